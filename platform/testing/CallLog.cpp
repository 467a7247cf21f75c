// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/testing/CallLog.h"

namespace tandrel::testing {

std::vector<std::string> CallLog::only(const std::string& prefix) const
{
    std::vector<std::string> out;
    for (const auto& e : entries_)
        if (e.rfind(prefix, 0) == 0)
            out.push_back(e);
    return out;
}

}  // namespace tandrel::testing
