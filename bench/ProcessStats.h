// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Figures a benchmark process reports about itself. Every harness prints them as
// key=value lines, which the suite reads back.

#include <cstdint>
#include <string>

namespace tandrel::bench {

//! Nanoseconds on the system-wide monotonic clock: two processes' readings can be
//! subtracted, which is how start-up is timed from the parent's spawn.
std::int64_t MonotonicNs();

//! Peak resident set size of this process so far, in KiB.
long PeakRssKiB();
//! Resident set size of this process now, in KiB.
long RssKiB();

//! Where the resident memory of this process is now: the KiB of each mapped file
//! (by its name) and of the anonymous memory ("[heap]", "[anon]", …), largest
//! first, as "name kib, name kib, …" for the `top` largest.
std::string RssByMapping(int top);

//! CPU time this process has used so far, user and system, all threads, in µs.
std::int64_t CpuMicros();
//! CPU time the calling thread has used so far, in µs.
std::int64_t ThreadCpuMicros();

//! Prints one "key=value" line to stdout and flushes, so a parent reading the pipe
//! sees it at once.
void Report(const std::string& key, const std::string& value);
void Report(const std::string& key, std::int64_t value);

}  // namespace tandrel::bench
