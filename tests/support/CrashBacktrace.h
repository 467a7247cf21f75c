// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace tandrel::testing {

//! From now on a crash (SIGSEGV, SIGBUS, SIGABRT) prints the crashing thread's
//! frames on stderr, then dies of its signal as before, core and all: a rare crash
//! in CI leaves its place in the log. Under AddressSanitizer only SIGABRT: its own
//! report covers the others, and better.
void installCrashBacktrace();

#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kSanitizerReportsFaults = true;
#elif defined(__has_feature)
inline constexpr bool kSanitizerReportsFaults = __has_feature(address_sanitizer);
#else
inline constexpr bool kSanitizerReportsFaults = false;
#endif

}  // namespace tandrel::testing
