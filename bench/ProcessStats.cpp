// SPDX-License-Identifier: GPL-3.0-or-later
#include "ProcessStats.h"

#include <sys/resource.h>

#include <cctype>
#include <cstdio>
#include <ctime>
#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

namespace tandrel::bench {

std::int64_t MonotonicNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

namespace {

// One "Name:   1234 kB" line of /proc/self/status, in KiB; -1 when it is not there.
long StatusKiB(const std::string& field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0)
            return std::stol(line.substr(field.size()));
    return -1;
}

}  // namespace

long PeakRssKiB()
{
    // VmHWM is the high-water mark the kernel keeps; getrusage's ru_maxrss is the
    // same figure but survives exec, which would blur a child's own peak.
    return StatusKiB("VmHWM:");
}

long RssKiB()
{
    return StatusKiB("VmRSS:");
}

std::string RssByMapping(int top)
{
    std::ifstream smaps("/proc/self/smaps");
    std::map<std::string, long> kib;
    std::string line, name;
    while (std::getline(smaps, line)) {
        // A mapping's header: "start-end perms offset dev inode [path]"; its fields follow.
        if (line.find('-') < line.find(' ') && line.find(' ') != std::string::npos && !line.empty()
            && std::isxdigit(static_cast<unsigned char>(line[0])) && line.find(':') > line.find(' ')) {
            std::istringstream header(line);
            std::string range, perms, offset, dev, inode, path;
            header >> range >> perms >> offset >> dev >> inode;
            std::getline(header >> std::ws, path);
            const auto slash = path.rfind('/');
            name = path.empty() ? "[anon]" : slash == std::string::npos ? path : path.substr(slash + 1);
        } else if (line.rfind("Rss:", 0) == 0) {
            kib[name] += std::stol(line.substr(4));
        }
    }
    std::vector<std::pair<std::string, long>> sorted(kib.begin(), kib.end());
    std::sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
    std::string text;
    for (int i = 0; i < top && i < static_cast<int>(sorted.size()); ++i)
        text += (i ? ", " : "") + sorted[i].first + " " + std::to_string(sorted[i].second);
    return text;
}

std::int64_t CpuMicros()
{
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    const auto us = [](const timeval& tv) { return static_cast<std::int64_t>(tv.tv_sec) * 1'000'000 + tv.tv_usec; };
    return us(ru.ru_utime) + us(ru.ru_stime);
}

std::int64_t ThreadCpuMicros()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000 + ts.tv_nsec / 1000;
}

void Report(const std::string& key, const std::string& value)
{
    std::printf("%s=%s\n", key.c_str(), value.c_str());
    std::fflush(stdout);
}

void Report(const std::string& key, std::int64_t value)
{
    Report(key, std::to_string(value));
}

}  // namespace tandrel::bench
