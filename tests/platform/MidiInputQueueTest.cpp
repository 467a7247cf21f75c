// SPDX-License-Identifier: GPL-3.0-or-later
// The input port's reassembly and queue, without any MIDI system: what comes in
// pushes of any framing leaves as whole messages, in order, with nothing lost.
#include "platform/MidiInputQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>
#include <vector>

using tandrel::ByteString;
using tandrel::MidiInputQueue;

namespace {

using Bytes = std::vector<int>;

ByteString bytes(const Bytes& b)
{
    ByteString s;
    for (int v : b) s.push_back(static_cast<char>(v));
    return s;
}

std::vector<ByteString> drain(MidiInputQueue& q)
{
    std::vector<ByteString> out;
    for (; q.count() > 0; q.pop()) out.push_back(q.front());
    return out;
}

void push(MidiInputQueue& q, const ByteString& s)
{
    q.push(reinterpret_cast<const unsigned char*>(s.data()), s.size());
}

struct Case {
    const char* name;
    std::vector<Bytes> pushes;
    std::size_t sysexLimit;
    std::vector<int> dropped;
    std::vector<Bytes> expected;
};

TEST(MidiInputQueueTest, ReassemblesWholeMessagesFromAnyFraming)
{
    const std::vector<Case> cases = {
        {"sysex in one push", {{0xF0, 1, 2, 0xF7}}, 16, {}, {{0xF0, 1, 2, 0xF7}}},
        {"sysex over three pushes", {{0xF0, 1}, {2, 3}, {4, 0xF7}}, 16, {}, {{0xF0, 1, 2, 3, 4, 0xF7}}},
        {"sysex of exactly the limit", {{0xF0, 1, 2, 0xF7}}, 4, {}, {{0xF0, 1, 2, 0xF7}}},
        {"sysex over the limit comes in pieces",
         {{0xF0, 1, 2, 3, 4, 5}, {6, 7, 8, 0xF7}},
         4,
         {},
         {{0xF0, 1, 2, 3}, {4, 5, 6, 7}, {8, 0xF7}}},
        {"realtime inside sysex comes out on its own, first",
         {{0xF0, 1, 0xF8, 2}, {0xFE, 0xF7}},
         16,
         {},
         {{0xF8}, {0xFE}, {0xF0, 1, 2, 0xF7}}},
        {"running status is written out", {{0x90, 0x40, 0x7F, 0x41, 0x7F}, {0x42, 0}}, 16, {},
         {{0x90, 0x40, 0x7F}, {0x90, 0x41, 0x7F}, {0x90, 0x42, 0}}},
        {"a status cuts sysex off", {{0xF0, 1, 2, 0xC0, 5}}, 16, {}, {{0xF0, 1, 2}, {0xC0, 5}}},
        {"a short message cut off at the end of a push is kept", {{0x90, 0x40}, {0xB0, 7, 100}}, 16, {},
         {{0x90, 0x40}, {0xB0, 7, 100}}},
        {"data with no status is kept together", {{1, 2, 3}}, 16, {}, {{1, 2, 3}}},
        {"system common ends running status", {{0x90, 1, 2, 0xF1, 3, 4, 5}}, 16, {},
         {{0x90, 1, 2}, {0xF1, 3}, {4, 5}}},
        {"the filter drops exactly the named statuses, realtime within sysex too",
         {{0xF8, 0xB0, 7, 100, 0xF0, 1, 0xFE, 2, 0xF7, 0xC0, 5, 0xF9, 0x90, 1, 2, 0xFE}},
         16,
         {0xF8, 0xFE, 0xB0, 0xC0, 0xF9},
         {{0xF0, 1, 2, 0xF7}, {0x90, 1, 2}}},
        {"a filtered sysex is dropped in all its pieces", {{0xF0, 1, 2, 3}, {4, 5, 0xF7, 0xF8}}, 2, {0xF0},
         {{0xF8}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MidiInputQueue q;
        q.setDelivering(true);
        q.setSysexBufferSize(c.sysexLimit);
        for (int status : c.dropped) q.setFilter(static_cast<unsigned char>(status), true);
        for (const Bytes& p : c.pushes) push(q, bytes(p));
        std::vector<ByteString> expected;
        for (const Bytes& e : c.expected) expected.push_back(bytes(e));
        EXPECT_EQ(drain(q), expected);
    }
}

TEST(MidiInputQueueTest, WakesOnceUntilTakenAndKeepsNothingWhileNotDelivering)
{
    MidiInputQueue q;
    const ByteString note = bytes({0x90, 1, 2});
    push(q, note);
    EXPECT_EQ(q.count(), 0u) << "not delivering yet";
    q.setDelivering(true);
    const auto p = [&] { return q.push(reinterpret_cast<const unsigned char*>(note.data()), note.size()); };
    EXPECT_TRUE(p());
    EXPECT_FALSE(p()) << "one wake-up covers what follows";
    EXPECT_TRUE(q.takeWake());
    EXPECT_TRUE(p());
    q.clear();
    EXPECT_FALSE(q.takeWake());
    EXPECT_EQ(q.front(), ByteString());
    EXPECT_FALSE(q.pop());
}

TEST(MidiInputQueueTest, CountsWhatDoesNotFit)
{
    MidiInputQueue q;
    q.setDelivering(true);
    const ByteString rt = bytes({0xF8});
    for (std::size_t i = 0; i < MidiInputQueue::MaxMessages + 5; ++i) push(q, rt);
    EXPECT_EQ(q.count(), MidiInputQueue::MaxMessages);
    EXPECT_EQ(q.takeOverflow(), 5u);
    EXPECT_EQ(q.takeOverflow(), 0u);
}

// Random streams of real messages, cut where the MIDI systems cut (between messages
// and anywhere inside SysEx), pushed from another thread while this one drains.
TEST(MidiInputQueueTest, FuzzValidStreamsArriveIntactWhileReadConcurrently)
{
    std::mt19937 random(12345);
    for (int round = 0; round < 40; ++round) {
        SCOPED_TRACE(round);
        const std::size_t limit = 1 + random() % 64;
        std::vector<ByteString> pushes(1);
        ByteString realtime, other;
        std::size_t pieces = 0;
        const auto addRealtime = [&] {
            const char rt = static_cast<char>(0xF8 + random() % 8);
            pushes.back() += rt;
            realtime += rt;
        };
        const auto add = [&](const ByteString& m) {
            pushes.back() += m;
            other += m;
        };
        for (int m = 0; m < 200; ++m, pushes.emplace_back()) {  // short messages come one per push
            const auto kind = random() % 4;
            if (kind == 0) {  // sysex, with realtime sprinkled in and cuts anywhere
                const std::size_t data = random() % (3 * limit);
                add("\xF0");
                for (std::size_t i = 0; i < data; ++i) {
                    if (random() % 10 == 0) addRealtime();
                    add(ByteString(1, static_cast<char>(random() % 128)));
                    if (random() % 3 == 0) pushes.emplace_back();
                }
                add("\xF7");
                pieces += (data + 2 + limit - 1) / limit;
            } else if (kind == 1) {
                add(bytes({0x90 + static_cast<int>(random() % 16), static_cast<int>(random() % 128), 64}));
            } else if (kind == 2) {
                add(bytes({0xC0, static_cast<int>(random() % 128)}));
            } else {
                addRealtime();
            }
        }

        MidiInputQueue q;
        q.setDelivering(true);
        q.setSysexBufferSize(limit);
        std::atomic<bool> fed{false};
        std::thread feeder([&] {
            for (const ByteString& p : pushes) push(q, p);
            fed = true;
        });
        std::vector<ByteString> got;
        const auto take = [&] {
            for (; q.count() > 0; q.pop()) got.push_back(q.front());
        };
        while (!fed) take();
        feeder.join();
        take();

        ByteString gotRealtime, gotOther;
        std::size_t gotPieces = 0;
        for (const ByteString& m : got) {
            ASSERT_FALSE(m.empty());
            const auto first = static_cast<unsigned char>(m[0]);
            if (first >= 0xF8) {
                ASSERT_EQ(m.size(), 1u);
                gotRealtime += m;
                continue;
            }
            gotOther += m;
            if (first == 0xF0 || first == 0xF7 || first < 0x80) {
                ++gotPieces;
                EXPECT_LE(m.size(), limit);
            }
        }
        EXPECT_EQ(gotRealtime, realtime);
        EXPECT_EQ(gotOther, other);
        EXPECT_EQ(gotPieces, pieces) << "pieces are as large as the limit allows";
    }
}

}  // namespace
