// SPDX-License-Identifier: GPL-3.0-or-later
// Verifies a made-up GT-3 dump with the product's verifier.
//
//   bench_verify BYTES          one verification, for callgrind: collection is
//                               toggled on tandrel_bench_verify_all only
//   bench_verify --time BYTES   the median wall time of several verifications, and
//                               of one plain pass over the same bytes (the floor
//                               any verifier that reads every byte stands on)
#include "BenchDump.h"
#include "ProcessStats.h"
#include "dump/DumpVerifier.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" __attribute__((noinline)) std::size_t tandrel_bench_verify_all(const tandrel::ByteString& dump)
{
    return tandrel::VerifyDump(dump).messages.size();
}

namespace {

// Sums every byte and counts the F7s: what reading the dump costs at the least.
__attribute__((noinline)) std::size_t plainPass(const std::string& dump)
{
    unsigned sum = 0;
    std::size_t ends = 0;
    for (const char c : dump) {
        sum += static_cast<unsigned char>(c);
        ends += static_cast<unsigned char>(c) == 0xF7;
    }
    return ends + (sum & 1);
}

template <typename F>
std::int64_t medianNs(int rounds, F&& work)
{
    std::vector<std::int64_t> ns;
    for (int i = 0; i < rounds; ++i) {
        const auto start = std::chrono::steady_clock::now();
        work();
        ns.push_back(std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start).count());
    }
    std::nth_element(ns.begin(), ns.begin() + ns.size() / 2, ns.end());
    return ns[ns.size() / 2];
}

}  // namespace

int main(int argc, char** argv)
{
    const bool timed = argc == 3 && std::strcmp(argv[1], "--time") == 0;
    if (argc != 2 && !timed) {
        std::fprintf(stderr, "usage: %s [--time] BYTES\n", argv[0]);
        return 2;
    }
    const auto bytes = static_cast<std::size_t>(std::strtoull(argv[argc - 1], nullptr, 10));
    const tandrel::ByteString dump = tandrel::bench::MakeDump(bytes);
    const std::size_t messages = tandrel_bench_verify_all(dump);
    tandrel::bench::Report("bytes", static_cast<std::int64_t>(dump.size()));
    tandrel::bench::Report("messages", static_cast<std::int64_t>(messages));
    const tandrel::DumpReport report = tandrel::VerifyDump(dump);
    tandrel::bench::Report("verdict", report.summary());
    if (timed) {
        // Alternate the two so that neither gets the warmer cache throughout.
        std::int64_t verify = 0, plain = 0;
        volatile std::size_t sink = 0;
        for (int round = 0; round < 3; ++round) {
            verify += medianNs(5, [&] { sink = sink + tandrel_bench_verify_all(dump); });
            plain += medianNs(5, [&] { sink = sink + plainPass(dump); });
        }
        tandrel::bench::Report("verify_ns", verify / 3);
        tandrel::bench::Report("plain_ns", plain / 3);
    }
    return report.verdict == tandrel::Verdict::Good ? 0 : 1;
}
