// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

namespace tandrel {

//! Adds `bytes` to a signed 32-bit counter. When the sum would leave the counter's
//! range the counter is left unchanged and false is returned: the caller decides
//! whether that ends its work or only skips a step.
inline bool CheckedAdd(std::int32_t& counter, std::size_t bytes) noexcept
{
    constexpr auto kMax = std::numeric_limits<std::int32_t>::max();
    if (bytes > static_cast<std::size_t>(kMax))
        return false;
    const std::int64_t sum = static_cast<std::int64_t>(counter) + static_cast<std::int64_t>(bytes);
    if (sum > kMax)
        return false;
    counter = static_cast<std::int32_t>(sum);
    return true;
}

}  // namespace tandrel
