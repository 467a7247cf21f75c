// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <vector>

namespace tandrel::testing {

//! One ordered record of the calls that several doubles receive, so a test can
//! assert the exact sequence across them ("in.Command=2", "out.DeviceID=-1", …).
class CallLog {
public:
    void add(std::string entry) { entries_.push_back(std::move(entry)); }
    const std::vector<std::string>& entries() const { return entries_; }
    void clear() { entries_.clear(); }
    //! The entries that begin with `prefix`, in order.
    std::vector<std::string> only(const std::string& prefix) const;

private:
    std::vector<std::string> entries_;
};

}  // namespace tandrel::testing
