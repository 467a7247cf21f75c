// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <exception>
#include <type_traits>
#include <utility>

namespace tandrel {

//! Runs one step of a command whose failures are ignored step by step: whatever
//! the step throws is swallowed, and a step that reports failure by returning
//! false is treated the same. Returns whether the step succeeded, for callers that
//! count failures; the commands themselves go on with their next step either way.
template <typename Step>
bool IgnoreFailure(Step&& step) noexcept
{
    try {
        if constexpr (std::is_same_v<std::invoke_result_t<Step>, bool>) {
            return std::forward<Step>(step)();
        } else {
            std::forward<Step>(step)();
            return true;
        }
    } catch (...) {
        return false;
    }
}

}  // namespace tandrel
