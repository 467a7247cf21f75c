// SPDX-License-Identifier: GPL-3.0-or-later
// Cuts a dump into its messages the way the send loop does: the next length from
// the product's cutter, then a copy of that message. Run under callgrind with
// collection toggled on tandrel_bench_cut_all only, so the dump's making is not
// counted.
#include "BenchDump.h"
#include "ProcessStats.h"
#include "dump/MessageCutter.h"

#include <cstdio>
#include <cstdlib>

extern "C" __attribute__((noinline)) std::size_t tandrel_bench_cut_all(const tandrel::ByteString& dump,
                                                                       std::size_t* messages)
{
    tandrel::ByteString message;
    std::size_t cut = 0;
    std::size_t count = 0;
    for (;;) {
        const std::size_t k = tandrel::NextMessageLength(dump, cut);
        if (k == 0)
            break;
        message.assign(dump, cut, k);
        cut += k;
        ++count;
    }
    *messages = count;
    return cut;
}

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s BYTES\n", argv[0]);
        return 2;
    }
    const auto bytes = static_cast<std::size_t>(std::strtoull(argv[1], nullptr, 10));
    const tandrel::ByteString dump = tandrel::bench::MakeDump(bytes);
    std::size_t messages = 0;
    const std::size_t cut = tandrel_bench_cut_all(dump, &messages);
    tandrel::bench::Report("bytes", static_cast<std::int64_t>(cut));
    tandrel::bench::Report("messages", static_cast<std::int64_t>(messages));
    return cut == bytes ? 0 : 1;
}
