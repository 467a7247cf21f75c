// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdio>
#include <cstdlib>

namespace tandrel::fuzz {

//! Ends the run, which libFuzzer then reports with its input, when the code under
//! test and the fuzzer's model disagree.
inline void check(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "model mismatch: %s\n", what);
        std::abort();
    }
}

}  // namespace tandrel::fuzz
