// SPDX-License-Identifier: GPL-3.0-or-later
// Receive and the ports' events, on the real main window with doubled ports.
#include "dump/DumpWindow.h"

#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QPushButton>
#include <QWindow>

#include <gtest/gtest.h>

#include <limits>

using namespace tandrel;
using namespace tandrel::testing;

namespace {

//! The status text at every paint the status line actually gets.
struct PaintRecorder : QObject {
    explicit PaintRecorder(frmMain& w) : w(w)
    {
        w.show();
        for (int i = 0; i < 100 && !(w.windowHandle() && w.windowHandle()->isExposed()); ++i)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        w.lblStatus->installEventFilter(this);
    }
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Paint)
            texts.push_back(w.statusText());
        return false;
    }
    frmMain& w;
    QStringList texts;
};

const ByteString a = message(10, 'a'), b = message(20, 'b'), c = message(30, 'c');

}  // namespace

TEST(ReceiveCommand, RestartsTheInputFromEachStateAndClosesTheOutput)
{
    const struct { std::int16_t inState; std::vector<std::string> expected; } cases[] = {
        {MIDIInput::Closed, {"out.Command=2", "in.Command=1", "in.Command=4"}},
        {MIDIInput::Opened, {"in.Command=2", "out.Command=2", "in.Command=1", "in.Command=4"}},
        {MIDIInput::Delivering, {"in.Command=5", "in.Command=2", "out.Command=2", "in.Command=1", "in.Command=4"}},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.inState);
        DumpWindow f;
        f.fake.in.state = k.inState;
        f.fake.in.stateReads = 0;
        f.MAIN.sSysexData = a;
        f.MAIN.lByteCount = 10;
        f.w->setStatusColour(frmMain::kYellow);
        f.w->cmdReceive->click();
        EXPECT_EQ(f.fake.log.entries(), k.expected);
        EXPECT_EQ(f.fake.in.stateReads, 3);
        EXPECT_TRUE(f.MAIN.lByteCount == 0 && f.MAIN.sSysexData.empty());
        EXPECT_EQ(f.w->statusText(), "Ready to Receive or Open");
        EXPECT_EQ(f.w->statusColour(), frmMain::kGreen);
    }
}

TEST(ReceiveMessageEvent, DrainsWhatWaitsAndAlwaysMarksTheDumpUnsaved)
{
    const struct {
        const char* name; std::vector<ByteString> waiting, duringYield /* by a nested event */;
        std::optional<std::int16_t> scriptedCount; ByteString expected; QStringList painted;
    } cases[] = {
        {"three messages", {a, b, c}, {}, {}, a + b + c,
         {"Received 10 bytes; Save", "Received 30 bytes; Save", "Received 60 bytes; Save"}},
        {"nested event during the yield", {a}, {b}, {}, a + b, {"Received 10 bytes; Save", "Received 30 bytes; Save"}},
        {"data but a count of 0", {a}, {}, 0, {}, {}},
        {"a count but no data", {}, {}, 3, {}, {}},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        DumpWindow f;
        PaintRecorder paints(*f.w);
        f.fake.in.scriptedMessageCount = k.scriptedCount;
        f.fake.loop.onDoEvents = [&] {
            if (f.fake.loop.yields == 1 && !k.duringYield.empty())
                f.fake.in.deliver(k.duringYield);
        };
        f.fake.in.deliver(k.waiting);
        EXPECT_EQ(f.MAIN.sSysexData, k.expected);
        EXPECT_EQ(f.MAIN.lByteCount, static_cast<std::int32_t>(k.expected.size()));
        EXPECT_EQ(paints.texts, k.painted);
        EXPECT_EQ(f.w->statusColour(), k.painted.isEmpty() ? frmMain::kGreen : frmMain::kYellow);
        EXPECT_TRUE(f.w->bDumpUnsaved);
    }
}

TEST(ReceiveMessageEvent, TheCountNeverPassesItsLimit)
{
    constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
    const struct { std::int32_t before; std::size_t appended /* of a, b, c */; std::int32_t after; } cases[] = {
        {kMax - 60, 3, kMax}, {kMax - 59, 2, kMax - 29}, {kMax - 9, 0, kMax - 9}};
    for (const auto& k : cases) {
        SCOPED_TRACE(k.before);
        DumpWindow f;
        f.MAIN.lByteCount = k.before;
        f.fake.in.deliver({a, b, c});
        const bool refused = k.appended < 3;
        EXPECT_EQ(f.MAIN.sSysexData, (a + b + c).substr(0, a.size() * k.appended * (k.appended + 1) / 2));
        EXPECT_EQ(f.MAIN.lByteCount, k.after);
        EXPECT_EQ(f.fake.in.waiting.size(), 3 - k.appended);  // the refused message stays queued; the event ends
        ASSERT_EQ(f.fake.boxes.boxes.size(), refused ? 1u : 0u);
        EXPECT_TRUE(!refused || f.fake.boxes.boxes[0].prompt.contains("2,147,483,647"));
        EXPECT_EQ(f.w->bDumpUnsaved, !refused);
    }
}

TEST(ReceiveMessageEvent, AWindowClosedDuringTheYieldLeavesThePortsAlone)
{
    DumpWindow f;
    f.fake.loop.onDoEvents = [&] { f.w->close(); };
    f.fake.in.deliver({a});
    ASSERT_TRUE(f.w->unloaded());
    EXPECT_EQ(f.fake.log.entries().back(), "End");
    EXPECT_TRUE(f.MAIN.sSysexData.empty());
}

TEST(PortErrorEvents, ShowTheTextUnlessTheCodeIsZeroOrEight)
{
    const QString text = QStringLiteral("Device \"x\" is busy.\r\nTry again.");
    for (const std::int16_t code : {0, 8, 1, 7, 9, -1}) {
        SCOPED_TRACE(code);
        DumpWindow f;
        f.fake.in.fireError(code, text);
        f.out.fireError(code, text);
        const std::size_t shown = code != 0 && code != 8 ? 2 : 0;
        ASSERT_EQ(f.fake.boxes.boxes.size(), shown);
        for (const auto& box : f.fake.boxes.boxes)
            EXPECT_TRUE(box.prompt == text && box.title == "Tandrel" && box.style == MessageBoxes::vbOKOnly);
    }
}
