// SPDX-License-Identifier: GPL-3.0-or-later
// The output port's pacing without any MIDI system: DIN timing of the wire and the
// pause, fast pacing's limits, and the JACK window that keeps RtMidi from spinning.
#include "platform/OutputPacer.h"

#include <gtest/gtest.h>

using tandrel::OutputPacer;
using namespace std::chrono_literals;

namespace {

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

}  // namespace
