// SPDX-License-Identifier: GPL-3.0-or-later
// The lock-free hand-over from JACK's realtime thread: the ring keeps records whole and
// in order wherever they wrap, and a record that does not fit is counted, never torn;
// through the relay every message reaches the queue, and a full ring is told as loss.
#include "platform/MidiByteRing.h"
#include "platform/RealtimeHandOver.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <optional>
#include <random>
#include <thread>
#include <vector>

using tandrel::ByteString;
using tandrel::MidiByteRing;
using tandrel::MidiInputQueue;
using tandrel::RealtimeHandOver;

namespace {

using Record = std::vector<unsigned char>;

//! Record number `n` of `size` bytes, each byte telling both, so a torn or misplaced
//! record cannot pass for another.
Record record(unsigned n, std::size_t size)
{
    Record r(size);
    for (std::size_t i = 0; i < size; ++i) r[i] = static_cast<unsigned char>((i % 2 ? n >> 8 : n * 31) + i);
    return r;
}

TEST(RealtimeHandOverTest, RingKeepsRecordsWholeWhereverTheyWrap)
{
    // In a 16-byte ring (a record takes 4 more than its bytes): n > 0 writes a record of n
    // bytes that must fit, n < 0 one of -n bytes that must not, 0 reads the oldest.
    struct Case {
        const char* name;
        std::vector<int> steps;
    };
    const std::vector<Case> cases = {
        {"the length straddles the end", {10, 0, 5, 0}},
        {"the bytes straddle the end", {6, 0, 8, 0}},
        {"a record ends exactly at the end", {12, 0, 3, 0}},
        {"exactly full, then nothing more fits", {12, -1, 0, 12, 0}},
        {"one byte more than the room", {-13, 5, -4, 0, 7, 0}},
        {"bigger than the ring", {-100, 1, 0}},
        {"room comes back only as records are read", {4, 4, -1, 0, 4, -5, 0, 0, 12, 0}},
        {"many laps at every offset", {7, 0, 7, 0, 5, 0, 3, 3, 0, 0, 9, 0, 1, 1, 1, 0, 0, 0, 11, 0, 2, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MidiByteRing ring(16);
        std::deque<Record> written;
        std::size_t dropped = 0;
        unsigned n = 0;
        for (std::size_t i = 0; i < c.steps.size(); ++i) {
            const int step = c.steps[i];
            SCOPED_TRACE(i);
            if (step == 0) {
                Record got;
                ASSERT_TRUE(ring.read(got));
                ASSERT_FALSE(written.empty());
                EXPECT_EQ(got, written.front());
                written.pop_front();
                continue;
            }
            const Record r = record(++n, static_cast<std::size_t>(std::abs(step)));
            EXPECT_EQ(ring.write(r.data(), r.size()), step > 0);
            if (step > 0) written.push_back(r);
            else ++dropped;
        }
        Record rest;
        EXPECT_EQ(ring.read(rest), !written.empty()) << "records left over";
        EXPECT_EQ(ring.takeDropped(), dropped);
    }
}

TEST(RealtimeHandOverTest, RingAcrossTwoThreadsLosesNothingUncounted)
{
    // The producer never waits, as on JACK's thread: what it cannot write is counted. The
    // consumer sees every record whole and in order, and read + dropped = written.
    struct Case {
        std::size_t capacity, largest;
    };
    const std::vector<Case> cases = {{16, 12}, {64, 40}, {1024, 300}, {std::size_t{1} << 16, 4000}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.capacity);
        constexpr unsigned Records = 20000;
        MidiByteRing ring(c.capacity);
        std::atomic<bool> done{false};
        std::jthread producer([&] {
            std::mt19937 random(c.capacity);
            for (unsigned n = 1; n <= Records; ++n) {
                const Record r = record(n, 1 + random() % c.largest);
                ring.write(r.data(), r.size());
            }
            done = true;
        });
        std::mt19937 random(c.capacity);
        unsigned expected = 0, read = 0, torn = 0;
        std::size_t dropped = 0;
        Record got;
        for (bool last = false; !last;) {
            last = done;
            while (ring.read(got)) {
                // Replays the producer's sizes up to the record it is, skipping the dropped.
                Record want;
                do want = record(++expected, 1 + random() % c.largest);
                while (want != got && expected < Records);
                if (want != got) ++torn;
                ++read;
            }
            dropped += ring.takeDropped();
        }
        EXPECT_EQ(torn, 0u);
        EXPECT_EQ(read + dropped, Records);
        EXPECT_GT(read, 0u);
    }
}

TEST(RealtimeHandOverTest, RelayMovesEveryMessageIntoTheQueueInOrder)
{
    // One writer thread as JACK's, a cycle's messages at a time, the relay, and this
    // thread reading as the window does. The ring holds all of it, so no delay of the
    // relay on a busy machine can lose anything.
    MidiInputQueue queue;
    queue.setDelivering(true);
    queue.setSysexBufferSize(1000);
    std::atomic<int> wakes{0};
    RealtimeHandOver handOver(queue, [&] { ++wakes; });
    handOver.start();
    std::vector<ByteString> sent;
    for (unsigned n = 0; n < 5000; ++n) {
        ByteString m = "\xF0";
        for (unsigned char b : record(n, 1 + n % 200)) m += static_cast<char>(b & 0x7F);
        sent.push_back(m + "\xF7");
    }
    std::jthread writer([&] {
        for (const ByteString& m : sent) {
            handOver.write(reinterpret_cast<const unsigned char*>(m.data()), m.size());
            if ((&m - sent.data()) % 100 == 99) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    std::vector<ByteString> got;
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (got.size() < sent.size() && std::chrono::steady_clock::now() < limit)
        for (ByteString m; queue.popFront(m);) got.push_back(std::move(m));
    writer.join();
    EXPECT_TRUE(got == sent) << got.size() << " of " << sent.size() << " messages";
    EXPECT_GE(wakes, 1);
    EXPECT_FALSE(queue.takeLoss()) << "a ring the relay keeps up with loses nothing";
}

TEST(RealtimeHandOverTest, FullRingIsToldOnceAsLoss)
{
    // The relay not running stands for a reader held up: the ring fills, the messages that
    // fitted come through in order, the rest is told as loss, once.
    MidiInputQueue queue;
    queue.setDelivering(true);
    int wakes = 0;
    RealtimeHandOver handOver(queue, [&] { ++wakes; }, 64);  // five 7-byte messages and their lengths
    std::vector<ByteString> sent;
    for (char n = 1; n <= 10; ++n) {
        sent.push_back(ByteString{'\xF0', 0x41, n, 1, 2, 3, '\xF7'});
        handOver.write(reinterpret_cast<const unsigned char*>(sent.back().data()), sent.back().size());
    }
    handOver.drain();
    std::vector<ByteString> got;
    for (ByteString m; queue.popFront(m);) got.push_back(std::move(m));
    EXPECT_EQ(got, std::vector<ByteString>(sent.begin(), sent.begin() + 5));
    EXPECT_EQ(queue.takeLoss(), std::optional<std::size_t>(5));
    EXPECT_EQ(wakes, 1);
    handOver.drain();
    EXPECT_FALSE(queue.takeLoss()) << "told once";
}

}  // namespace
