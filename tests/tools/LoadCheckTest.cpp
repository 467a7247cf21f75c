// SPDX-License-Identifier: GPL-3.0-or-later
// What the simulated GT-3 says of a bulk load: a clean dump passes, and each kind
// of damage is named in the panel's words, with the count of where it happened.
#include "LoadCheck.h"
#include "gt3sim/Dt1.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

using namespace gt3sim;
using namespace std::chrono_literals;

namespace {

using Messages = std::vector<Bytes>;

Messages messagesOf(const Bytes& dump)
{
    Messages out;
    for (auto at = dump.begin(); at != dump.end();) {
        const auto end = std::find(at, dump.end(), 0xF7) + 1;
        out.emplace_back(at, end);
        at = end;
    }
    return out;
}

// One event per message, stamped as a cable would deliver them `pauseUs` apart.
LoadCheck load(const Messages& messages, std::int64_t pauseUs)
{
    LoadCheck check(20ms);
    std::int64_t t = 0;
    for (const Bytes& m : messages) {
        check.feed(m.data(), m.size(), t);
        t += static_cast<std::int64_t>(m.size()) * 320 + pauseUs;
    }
    check.finish();
    return check;
}

std::string text(std::size_t messages, std::size_t bytes, const std::string& rest)
{
    return std::to_string(messages) + " messages, " + std::to_string(bytes) + " bytes" + rest;
}

TEST(LoadCheck, NamesWhatIsWrongWithALoad)
{
    std::string error;
    const Messages dump = messagesOf(generateDump(3000, 0, 0x10, 1, &error));
    ASSERT_GT(dump.size(), 4u) << error;
    const std::size_t n = dump.size(), size = 3000;

    const struct {
        const char* name;
        std::function<void(Messages&)> damage;
        std::int64_t pauseUs;
        std::string report;
        std::size_t addressErrors;
    } cases[] = {
        {"whole, paced as the unit asks", [](Messages&) {}, 20000, text(n, size, ", checksums OK"), 0},
        {"a data byte changed", [](Messages& m) { m[2][20] ^= 0x01; }, 20000, text(n, size, ": 1 bad checksum"), 0},
        {"two blocks swapped", [](Messages& m) { std::swap(m[1], m[2]); }, 20000,
         text(n, size, ": 1 address out of order"), 1},
        {"the dump sent twice", [&](Messages& m) { m.insert(m.end(), dump.begin(), dump.end()); }, 20000,
         text(2 * n, 2 * size, ": 1 address out of order"), 1},
        {"a message without its end", [](Messages& m) { m[1].pop_back(); }, 20000,
         // The next message's start cuts it off, with no pause in between.
         text(n - 1, size - 1, ": 1 framing error, 1 pause under 20 ms (shortest 0.0 ms)"), 0},
        {"clock bytes inside the messages", [](Messages& m) { for (Bytes& b : m) b.insert(b.begin() + 9, 0xF8); },
         20000, text(n, size + n, ", checksums OK"), 0},
        {"pauses of 5 ms", [](Messages&) {}, 5000,
         text(n, size, ": " + std::to_string(n - 1) + " pauses under 20 ms (shortest 5.0 ms)"), 0},
        {"nothing", [](Messages& m) { m.clear(); }, 20000, "nothing received", 0},
    };
    for (const auto& c : cases) {
        Messages messages = dump;
        c.damage(messages);
        const LoadCheck check = load(messages, c.pauseUs);
        EXPECT_EQ(check.report(), c.report) << c.name;
        EXPECT_EQ(check.addressErrors(), c.addressErrors) << c.name;
        EXPECT_EQ(check.accepted(), c.report.ends_with("checksums OK")) << c.name;
        EXPECT_NE(check.summary().find(check.accepted() ? "ok=1" : "ok=0"), std::string::npos) << c.name;
    }
}

}  // namespace
