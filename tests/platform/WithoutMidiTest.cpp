// SPDX-License-Identifier: GPL-3.0-or-later
// The platform layer with no MIDI system. The ports' parts: the input queue's reassembly
// (the wake-up, delivery and overflow rules are checked against a model by
// fuzz/InputQueueFuzzer), the lock-free hand-over from JACK's realtime thread, the ALSA
// reader's address, the output's pacing. The production ports where neither ALSA nor
// JACK answers, and the production message boxes.
#include "platform/AlsaSeqReader.h"
#include "platform/MidiByteRing.h"
#include "platform/MidiErrors.h"
#include "platform/MidiInputQueue.h"
#include "platform/MidiPorts.h"
#include "platform/OutputPacer.h"
#include "platform/QtServices.h"
#include "platform/RealtimeHandOver.h"
#include "support/Helpers.h"

#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <optional>
#include <random>
#include <thread>
#include <variant>
#include <vector>

using namespace tandrel;
using namespace std::chrono_literals;

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

using Record = std::vector<unsigned char>;

//! Record number `n` of `size` bytes, each byte telling both, so a torn or misplaced
//! record cannot pass for another.
Record record(unsigned n, std::size_t size)
{
    Record r(size);
    for (std::size_t i = 0; i < size; ++i) r[i] = static_cast<unsigned char>((i % 2 ? n >> 8 : n * 31) + i);
    return r;
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

using Clock = OutputPacer::Clock;
const Clock::time_point t0 = Clock::time_point() + 1h;

TEST(OutputPacerTest, CutsMessagesIntoPiecesOfAtMost4096Bytes)
{
    std::vector<std::size_t> big(31, 4096);
    big.push_back(3024);
    const std::vector<std::pair<std::size_t, std::vector<std::size_t>>> cases = {
        {0, {}}, {1, {1}}, {4096, {4096}}, {4097, {4096, 1}}, {130000, big}};
    for (const auto& [size, pieces] : cases) EXPECT_EQ(OutputPacer::pieces(size), pieces) << size;
}

TEST(OutputPacerTest, NextStartFollowsTheWireThePauseAndTheTransport)
{
    struct Timing {
        const char* name;
        OutputPacer::Mode mode;
        bool jack;  //!< driven by cycles, with a 5 ms slack
        std::size_t size;
        bool endsMessage;
        std::uint64_t observedCycle;  //!< the cycle count seen 3 ms after sending (sent at cycle 10)
        Clock::time_point expected;   //!< max(): waits for the transport, min(): at once
        OutputPacer::Micros pause{-1};  //!< set by the user (TANDREL_MIDI_PAUSE_MS); −1: the default
    };
    const auto din = OutputPacer::Mode::Din, fast = OutputPacer::Mode::Fast;
    const std::vector<Timing> cases = {
        {"DIN: wire time and pause after a message", din, false, 100, true, 0, t0 + 32ms + 20ms},
        {"DIN: no pause inside a message", din, false, 4096, false, 0, t0 + 4096 * 320us},
        {"DIN on JACK: waits until the piece has left", din, true, 100, true, 11, Clock::time_point::max()},
        {"DIN on JACK: timed from when it left, plus a cycle", din, true, 100, true, 12, t0 + 3ms + 32ms + 20ms + 5ms},
        {"DIN on JACK: no slack inside a message", din, true, 4096, false, 12, t0 + 3ms + 4096 * 320us},
        {"fast: the rate limit only", fast, false, 1000, true, 0, t0 + 1ms},
        {"fast on JACK: no time limit", fast, true, 1000, true, 10, Clock::time_point::min()},
        {"DIN: the pause set", din, false, 100, true, 0, t0 + 32ms + 45ms, 45ms},
        {"fast: the pause set, after a message", fast, false, 1000, true, 0, t0 + 45ms, 45ms},
        {"fast: the pause set, none inside a message", fast, false, 1000, false, 0, t0 + 1ms, 45ms},
        {"fast on JACK: the pause set", fast, true, 1000, true, 10, t0 + 45ms, 45ms},
        {"fast: a pause set to 0", fast, false, 1000, true, 0, t0 + 1ms, 0ms},
    };
    for (const Timing& c : cases) {
        SCOPED_TRACE(c.name);
        OutputPacer pacer;
        pacer.setMode(c.mode);
        pacer.setFastRate(1000000);
        if (c.jack) pacer.useCycles(5ms, 8192);
        if (c.pause >= 0ms) pacer.setPause(c.pause);
        EXPECT_EQ(pacer.earliestStart(), Clock::time_point::min()) << "nothing sent yet";
        pacer.sent(c.size, c.endsMessage, t0, 10);
        pacer.observe(c.observedCycle, t0 + 3ms);
        EXPECT_EQ(pacer.earliestStart(), c.expected);
    }
}

TEST(OutputPacerTest, JackWindowHoldsBackUntilCyclesHaveTakenThePieces)
{
    OutputPacer pacer;
    pacer.setMode(OutputPacer::Mode::Fast);
    pacer.useCycles(5ms, 8192);
    EXPECT_TRUE(pacer.fits(20000)) << "an empty window takes any one piece";
    pacer.sent(4096, false, t0, 5);
    pacer.sent(4096, true, t0, 6);
    EXPECT_FALSE(pacer.fits(1));
    EXPECT_EQ(pacer.fitsAtCycle(1), 8u) << "room comes when the first piece is out";
    EXPECT_EQ(pacer.fitsAtCycle(4097), 9u) << "more than one piece's room waits for the second";
    EXPECT_FALSE(pacer.idle(t0));
    pacer.observe(8, t0);  // the first piece is out, the second may still be in the buffer
    EXPECT_EQ(pacer.inFlight(), 4096u);
    EXPECT_TRUE(pacer.fits(4096));
    EXPECT_EQ(pacer.fitsAtCycle(4096), 0u);
    EXPECT_TRUE(pacer.idle(t0)) << "the last piece has left once two cycles have passed";
    pacer.observe(9, t0);
    EXPECT_EQ(pacer.inFlight(), 0u);
    pacer.reset();
    EXPECT_EQ(pacer.earliestStart(), Clock::time_point::min());
}

TEST(AlsaSeqReaderTest, FindsTheSequencerAddressAtTheEndOfRtMidisPortName)
{
    const struct {
        const char* name;
        bool found;
        int client, port;
    } rows[] = {
        {"Virtual Raw MIDI 0-1:VirMIDI 0-1 17:0", true, 17, 0},
        {"UM-ONE:UM-ONE MIDI 1 24:0", true, 24, 0},
        {"gt3sim:in 130:3", true, 130, 3},
        {"a name with 12:5 inside:port 129:1", true, 129, 1},
        {"no address at all", false, 0, 0},
        {"ends in a colon 17:", false, 0, 0},
        {"ends in text 17:0x", false, 0, 0},
        {"negative -1:0", false, 0, 0},
        {"", false, 0, 0},
    };
    for (const auto& row : rows) {
        int client = -7, port = -7;
        EXPECT_EQ(AlsaSeqReader::addressOf(row.name, &client, &port), row.found) << row.name;
        if (row.found) {
            EXPECT_EQ(client, row.client) << row.name;
            EXPECT_EQ(port, row.port) << row.name;
        }
    }
}

TEST(NoMidiSystemTest, SaysSoOnceNamingBothSystemsAndCarriesOn)
{
    QTemporaryDir dir;
    QFile conf(dir.filePath("alsa.conf"));
    ASSERT_TRUE(conf.open(QIODevice::WriteOnly));
    qputenv("ALSA_CONFIG_PATH", QFile::encodeName(conf.fileName()));
    qputenv("JACK_DEFAULT_SERVER", "tandrel-nowhere-" + QByteArray::number(QCoreApplication::applicationPid()));
    qunsetenv("TANDREL_MIDI_API");
    const auto in = CreateMIDIInput();
    const auto out = CreateMIDIOutput();
    std::vector<std::pair<std::int16_t, QString>> reported;
    in->events.Error = out->events.Error = [&](std::int16_t c, const QString& text) { reported.emplace_back(c, text); };
    EXPECT_EQ(in->DeviceCount() + out->DeviceCount(), 0);
    // Start-up, as the main window runs it.
    in->setSysexBufferSize(125000);
    in->setDeviceID(0);
    in->setCommand(MIDIInput::Open);
    for (int status : {249, 176, 192, 254, 248}) in->setFilter(status, true);
    out->setDeviceID(MIDIOutput::MidiMapper);
    out->setCommand(MIDIOutput::Close);
    out->setCommand(MIDIOutput::Open);
    in->setCommand(MIDIInput::Start);
    tandrel::testing::runEventsFor(300ms);
    ASSERT_EQ(reported.size(), 1u);
    const auto& [first, text] = reported[0];
    EXPECT_EQ(first, code(MidiError::NoMidiSystem));
    EXPECT_TRUE(text.contains("ALSA") && text.contains("JACK")) << text.toStdString();
    EXPECT_EQ(in->State() + out->State(), 0) << "both ports closed";

    // Everything else the program does with the ports goes by without a word.
    for (std::int16_t c : {MIDIInput::Stop, MIDIInput::Close, MIDIInput::Open, MIDIInput::Start, MIDIInput::DiscardOldest})
        in->setCommand(c);
    out->setCommand(MIDIOutput::Close);
    out->setCommand(MIDIOutput::Open);
    tandrel::testing::runEventsFor(300ms);
    EXPECT_EQ(reported.size(), 1u);

    // A send to the closed output is reported once, not once per message.
    const ByteString message("\xF0\x41\x10\x00\x1B\x12\x00\x00\x00\x00\x00\xF7", 12);
    for (int i = 0; i < 3; ++i) {
        out->setMessageData(message);
        out->setCommand(MIDIOutput::Transmit);
        EXPECT_EQ(out->MessageData(), ByteString()) << "reads back what was handed over: nothing";
    }
    tandrel::testing::runEventsFor(300ms);
    ASSERT_EQ(reported.size(), 2u);
    EXPECT_EQ(reported[1].first, code(MidiError::PortNotOpen));

    // Values a port cannot take are reported as code 7.
    const std::vector<std::pair<const char*, std::function<void()>>> invalid = {
        {"input command 3", [&] { in->setCommand(3); }},
        {"output command 4", [&] { out->setCommand(4); }},
        {"filter of 256", [&] { in->setFilter(256, true); }},
        {"filter of -1", [&] { in->setFilter(-1, false); }},
        {"buffer of 0 bytes", [&] { in->setSysexBufferSize(0); }},
    };
    for (const auto& [name, act] : invalid) {
        SCOPED_TRACE(name);
        reported.clear();
        act();
        tandrel::testing::runEventsFor(300ms);
        ASSERT_EQ(reported.size(), 1u);
        EXPECT_EQ(reported[0].first, code(MidiError::InvalidValue));
    }
}

TEST(QtMessageBoxes, EachStyleShowsItsButtonsAndAnswersEnterAndEsc)
{
    using B = QMessageBox;
    const struct {
        const char* what;
        int style;
        Qt::Key key;
        QMessageBox::StandardButtons buttons;
        QMessageBox::StandardButton byDefault;
        QMessageBox::Icon icon;
        int answer;
    } cases[] = {
        {"warning, Enter", MessageBoxes::vbYesNoWarningDefaultNo, Qt::Key_Return, B::Yes | B::No, B::No, B::Warning,
         MessageBoxes::vbNo},
        {"warning, Esc", MessageBoxes::vbYesNoWarningDefaultNo, Qt::Key_Escape, B::Yes | B::No, B::No, B::Warning,
         MessageBoxes::vbNo},
        {"question, Enter", MessageBoxes::vbYesNoCancelQuestion, Qt::Key_Return, B::Yes | B::No | B::Cancel, B::Yes,
         B::Question, MessageBoxes::vbYes},
        {"question, Esc", MessageBoxes::vbYesNoCancelQuestion, Qt::Key_Escape, B::Yes | B::No | B::Cancel, B::Yes,
         B::Question, MessageBoxes::vbCancel},
        {"OK only, Enter", MessageBoxes::vbOKOnly, Qt::Key_Return, B::Ok, B::NoButton, B::NoIcon, MessageBoxes::vbOK},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QTimer::singleShot(0, [&] {  // once the box is up
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(box->windowTitle(), "Tandrel");
            EXPECT_EQ(box->standardButtons(), c.buttons);
            EXPECT_TRUE(c.byDefault == B::NoButton || box->standardButton(box->defaultButton()) == c.byDefault);
            EXPECT_EQ(box->icon(), c.icon);
            QKeyEvent press(QEvent::KeyPress, c.key, Qt::NoModifier);
            QApplication::sendEvent(box, &press);
        });
        QtMessageBoxes boxes;
        EXPECT_EQ(boxes.MsgBox(QStringLiteral("Send anyway?"), c.style, QStringLiteral("Tandrel")), c.answer);
    }
}

}  // namespace
