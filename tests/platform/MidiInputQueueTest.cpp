// SPDX-License-Identifier: GPL-3.0-or-later
// The input port's reassembly and queue, without any MIDI system: pushes of any framing
// leave as whole messages, in order, with nothing lost. (The wake-up, delivery and overflow
// rules are checked against a model by fuzz/InputQueueFuzzer.)
#include "platform/MidiInputQueue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <thread>
#include <variant>
#include <vector>

using tandrel::ByteString;
using tandrel::MidiInputQueue;

namespace {

using Bytes = std::vector<int>;

ByteString bytes(const Bytes& b)
{
    return ByteString(b.begin(), b.end());
}

void push(MidiInputQueue& q, const ByteString& s)
{
    q.push(reinterpret_cast<const unsigned char*>(s.data()), s.size());
}

std::vector<ByteString> drain(MidiInputQueue& q)
{
    std::vector<ByteString> out;
    for (; q.count() > 0; q.pop()) out.push_back(q.front());
    return out;
}

TEST(MidiInputQueueTest, ReassemblesWholeMessagesFromAnyFraming)
{
    // `after`: pushed once Receive has cleared the queue, when the device may be in the
    // middle of a message: its tail must not come out as a message of its own, nor glue
    // to what comes next.
    struct Case {
        const char* name;
        std::vector<Bytes> pushes, expected;
        std::size_t sysexLimit = 16;
        Bytes dropped = {};
        std::vector<Bytes> after = {};
    };
    const std::vector<Case> cases = {
        {"sysex over three pushes", {{0xF0, 1}, {2, 3}, {4, 0xF7}}, {{0xF0, 1, 2, 3, 4, 0xF7}}},
        {"sysex of exactly the limit", {{0xF0, 1, 2, 0xF7}}, {{0xF0, 1, 2, 0xF7}}, 4},
        {"sysex over the limit comes in pieces", {{0xF0, 1, 2, 3, 4, 5}, {6, 7, 8, 0xF7}},
         {{0xF0, 1, 2, 3}, {4, 5, 6, 7}, {8, 0xF7}}, 4},
        {"realtime inside sysex comes out on its own, first", {{0xF0, 1, 0xF8, 2}, {0xFE, 0xF7}},
         {{0xF8}, {0xFE}, {0xF0, 1, 2, 0xF7}}},
        {"running status is written out", {{0x90, 0x40, 0x7F, 0x41, 0x7F}, {0x42, 0}},
         {{0x90, 0x40, 0x7F}, {0x90, 0x41, 0x7F}, {0x90, 0x42, 0}}},
        {"a status cuts sysex off", {{0xF0, 1, 2, 0xC0, 5}}, {{0xF0, 1, 2}, {0xC0, 5}}},
        {"a short message cut off at the end of a push is kept", {{0x90, 0x40}, {0xB0, 7, 100}},
         {{0x90, 0x40}, {0xB0, 7, 100}}},
        {"data with no status is kept together", {{1, 2, 3}}, {{1, 2, 3}}},
        {"system common ends running status", {{0x90, 1, 2, 0xF1, 3, 4, 5}}, {{0x90, 1, 2}, {0xF1, 3}, {4, 5}}},
        {"the filter drops exactly the named statuses, realtime within sysex too",
         {{0xF8, 0xB0, 7, 100, 0xF0, 1, 0xFE, 2, 0xF7, 0xC0, 5, 0xF9, 0x90, 1, 2, 0xFE}},
         {{0xF0, 1, 2, 0xF7}, {0x90, 1, 2}}, 16, {0xF8, 0xFE, 0xB0, 0xC0, 0xF9}},
        {"a filtered sysex is dropped in all its pieces", {{0xF0, 1, 2, 3}, {4, 5, 0xF7, 0xF8}}, {{0xF8}}, 2, {0xF0}},
        {"a tail up to its F7", {}, {{0xF0, 5, 0xF7}}, 16, {}, {{1, 2, 3, 0xF7}, {0xF0, 5, 0xF7}}},
        {"a tail and the next message in one push", {}, {{0xF0, 5, 0xF7}}, 16, {}, {{1, 2, 0xF7, 0xF0, 5, 0xF7}}},
        {"a tail over several pushes", {}, {{0xC0, 1}}, 16, {}, {{1, 2}, {3}, {4, 0xF7, 0xC0, 1}}},
        {"realtime inside a tail still comes out", {}, {{0xF8}}, 16, {}, {{1, 0xF8, 2, 0xF7}}},
        {"a status ends a tail with no F7", {}, {{0x90, 1, 2}}, 16, {}, {{1, 2, 0x90, 1, 2}}},
        {"a System Exclusive head before the clear", {{0xF0, 1, 2}}, {{0xF0, 9, 0xF7}}, 16, {}, {{3, 0xF7}, {0xF0, 9, 0xF7}}},
        {"running status before the clear", {{0x90, 1, 2}}, {{0x80, 3, 4}}, 16, {}, {{3, 4}, {0x80, 3, 4}}},
        {"a clean start loses nothing", {{0xF0, 1}}, {{0xF0, 2, 0xF7}, {5, 6}}, 16, {}, {{0xF0, 2, 0xF7}, {5, 6}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MidiInputQueue q;
        q.setDelivering(true);
        q.setSysexBufferSize(c.sysexLimit);
        for (int status : c.dropped) q.setFilter(static_cast<unsigned char>(status), true);
        for (const Bytes& p : c.pushes) push(q, bytes(p));
        if (!c.after.empty()) {
            q.clear();
            for (const Bytes& p : c.after) push(q, bytes(p));
        }
        std::vector<ByteString> expected;
        for (const Bytes& e : c.expected) expected.push_back(bytes(e));
        EXPECT_EQ(drain(q), expected);
    }
}

// Loss the MIDI system knows of (a JACK xrun, a full sequencer queue) is told once per dump:
// from the first message after a clear on, and not again until the next clear.
TEST(MidiInputQueueTest, LossIsToldOnceForEachDumpUnderWay)
{
    // 'm': a message arrives; 'c': clear; a number n: noteLoss(n); 't': takeLoss, whose
    // results are listed in `told` (-1: nothing to tell).
    struct Case {
        const char* name;
        std::vector<std::variant<char, int>> steps;
        std::vector<long> told;
    };
    const std::vector<Case> cases = {
        {"an unknown loss mid-dump, told once", {'m', 0, 't', 3, 't'}, {0, -1}},
        {"losses add up until told", {'m', 2, 3, 't'}, {5}},
        {"an unknown loss makes the sum unknown", {'m', 2, 0, 't'}, {0}},
        {"told again for the next dump", {'m', 2, 't', 'c', 'm', 4, 't'}, {2, 4}},
        {"no dump under way: nothing to tell", {1, 't', 'm', 't'}, {-1, -1}},
        {"a clear forgets what was not told", {'m', 2, 'c', 'm', 't'}, {-1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MidiInputQueue q;
        q.setDelivering(true);
        std::vector<long> told;
        for (const auto& step : c.steps) {
            if (const int* n = std::get_if<int>(&step)) q.noteLoss(static_cast<std::size_t>(*n));
            else if (std::get<char>(step) == 'm') push(q, bytes({0xF0, 1, 0xF7}));
            else if (std::get<char>(step) == 'c') q.clear();
            else if (const auto loss = q.takeLoss()) told.push_back(static_cast<long>(*loss));
            else told.push_back(-1);
        }
        EXPECT_EQ(told, c.told);
    }
}

// Cut anywhere inside SysEx, pushed from another thread while this one drains (the queue holds it all).
TEST(MidiInputQueueTest, ConcurrentPushesAndDrainsLoseNothing)
{
    std::mt19937 random(12345);
    ByteString stream;
    std::vector<ByteString> pushes;
    for (int m = 0; m < 4000; ++m) {
        const ByteString message = m % 2 ? ByteString{'\x90', static_cast<char>(m % 128), 64}
                                         : "\xF0" + ByteString(random() % 300, static_cast<char>(m % 128)) + "\xF7";
        stream += message;
        for (std::size_t at = 0, n; at < message.size(); at += n)  // a short message is never cut
            pushes.push_back(message.substr(at, n = m % 2 ? 3 : 1 + random() % 100));
    }
    MidiInputQueue q;
    q.setDelivering(true);
    q.setSysexBufferSize(64);
    std::atomic<bool> fed{false};
    std::jthread feeder([&] {
        for (const ByteString& p : pushes) push(q, p);
        fed = true;
    });
    ByteString got;
    std::size_t largest = 0;
    for (bool last = false; !last;) {
        last = fed;  // one more drain after the feeder is done
        for (const ByteString& m : drain(q)) {
            got += m;
            largest = std::max(largest, m.size());
        }
    }
    EXPECT_TRUE(got == stream) << got.size() << " of " << stream.size() << " bytes";
    EXPECT_LE(largest, 64u);
}

}  // namespace
