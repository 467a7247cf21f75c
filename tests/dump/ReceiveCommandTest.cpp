// SPDX-License-Identifier: GPL-3.0-or-later
// Receive and the input port's events, on the real main window with doubled ports.
#include "app/frmMain.h"
#include "platform/testing/FakeServices.h"
#include "setup/SettingsKeys.h"

#include <QCoreApplication>
#include <QEvent>
#include <QWindow>
#include <QLabel>
#include <QPushButton>

#include <gtest/gtest.h>

#include <limits>

using namespace tandrel;
using namespace tandrel::testing;
using Log = std::vector<std::string>;

namespace {

constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();

struct Fixture {
    FakeServices fake;
    DumpState MAIN;
    std::unique_ptr<frmMain> w;
    Fixture()
    {
        fake.settings.values[settings::kUserSetup] = QStringLiteral("1");
        w = std::make_unique<frmMain>(fake.services, MAIN);
        w->Form_Load();
        fake.log.clear();
    }
};

ByteString message(std::size_t length, char fill)
{
    ByteString m(length, fill);
    m.front() = '\xF0';
    m.back() = '\xF7';
    return m;
}

//! Records the status text each time the status line is actually painted.
class PaintRecorder : public QObject {
public:
    explicit PaintRecorder(frmMain& w) : w_(w) { w.lblStatus->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Paint)
            texts.push_back(w_.statusText());
        return false;
    }
    QStringList texts;

private:
    frmMain& w_;
};

}  // namespace

TEST(ReceiveCommand, RestartsTheInputFromEachStateAndClosesTheOutput)
{
    const struct {
        std::int16_t inState;
        Log expected;
    } cases[] = {
        {MIDIInput::Closed, {"out.Command=2", "in.Command=1", "in.Command=4"}},
        {MIDIInput::Opened, {"in.Command=2", "out.Command=2", "in.Command=1", "in.Command=4"}},
        {MIDIInput::Delivering, {"in.Command=5", "in.Command=2", "out.Command=2", "in.Command=1", "in.Command=4"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.inState);
        Fixture f;
        f.fake.in.state = c.inState;
        f.fake.in.stateReads = 0;
        f.MAIN.sSysexData = message(12, 'a');
        f.MAIN.lByteCount = 12;
        f.w->setStatusColour(frmMain::kYellow);
        f.w->cmdReceive->click();
        EXPECT_EQ(f.fake.log.entries(), c.expected);
        EXPECT_EQ(f.fake.in.stateReads, 3);
        EXPECT_EQ(f.fake.in.state, MIDIInput::Delivering);
        EXPECT_EQ(f.fake.out.state, MIDIOutput::Closed);
        EXPECT_EQ(f.MAIN.lByteCount, 0);
        EXPECT_TRUE(f.MAIN.sSysexData.empty());
        EXPECT_EQ(f.w->statusText(), "Ready to Receive or Open");
        EXPECT_EQ(f.w->statusColour(), frmMain::kGreen);
        EXPECT_EQ(f.w->focusWidget(), f.w->cmdFocus);
        EXPECT_FALSE(f.w->bDumpUnsaved);
    }
}

TEST(ReceiveMessageEvent, DrainsWhatWaitsAndAlwaysMarksTheDumpUnsaved)
{
    const struct {
        const char* name;
        std::vector<ByteString> waiting;
        std::optional<std::int16_t> scriptedCount;
        ByteString expectedDump;
        QStringList painted;
    } cases[] = {
        {"three messages in one event",
         {message(10, 'a'), message(20, 'b'), message(30, 'c')},
         {},
         message(10, 'a') + message(20, 'b') + message(30, 'c'),
         {"Received 10 bytes; Save", "Received 30 bytes; Save", "Received 60 bytes; Save"}},
        {"nothing waiting", {}, {}, {}, {}},
        {"data present but the count says none", {message(10, 'a')}, 0, {}, {}},
        {"count above zero but no data", {}, 3, {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        f.w->show();
        for (int i = 0; i < 100 && !(f.w->windowHandle() && f.w->windowHandle()->isExposed()); ++i)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        PaintRecorder paints(*f.w);
        f.fake.in.scriptedMessageCount = c.scriptedCount;
        f.fake.in.deliver(c.waiting);
        EXPECT_EQ(f.fake.loop.yields, 1);
        EXPECT_EQ(f.MAIN.sSysexData, c.expectedDump);
        EXPECT_EQ(f.MAIN.lByteCount, static_cast<std::int32_t>(c.expectedDump.size()));
        EXPECT_EQ(paints.texts, c.painted);
        EXPECT_EQ(f.w->statusColour(), c.painted.isEmpty() ? frmMain::kGreen : frmMain::kYellow);
        EXPECT_TRUE(f.w->bDumpUnsaved);
    }
}

TEST(ReceiveMessageEvent, AnEventRaisedDuringTheYieldAppendsEachMessageOnce)
{
    Fixture f;
    const ByteString first = message(10, 'a'), second = message(20, 'b');
    f.fake.loop.onDoEvents = [&] {
        if (f.fake.loop.yields == 1)
            f.fake.in.deliver({second});
    };
    f.fake.in.deliver({first});
    EXPECT_EQ(f.MAIN.sSysexData, first + second);
    EXPECT_EQ(f.MAIN.lByteCount, 30);
    EXPECT_EQ(f.fake.log.only("in.Command=6").size(), 2u);
}

TEST(ReceiveMessageEvent, TheCountNeverPassesItsLimit)
{
    const struct {
        std::int32_t countBefore;
        std::size_t appended;  // messages of 10, 20, 30 bytes that fit
        std::int32_t countAfter;
        bool refused;
    } cases[] = {
        {kMax - 60, 3, kMax, false},
        {kMax - 59, 2, kMax - 29, true},
        {kMax - 9, 0, kMax - 9, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.countBefore);
        Fixture f;
        const std::vector<ByteString> messages{message(10, 'a'), message(20, 'b'), message(30, 'c')};
        f.MAIN.lByteCount = c.countBefore;
        f.fake.in.deliver(messages);
        ByteString expected;
        for (std::size_t i = 0; i < c.appended; ++i)
            expected += messages[i];
        EXPECT_EQ(f.MAIN.sSysexData, expected);
        EXPECT_EQ(f.MAIN.lByteCount, c.countAfter);
        // The refused message is neither appended nor discarded, and the event ends.
        EXPECT_EQ(f.fake.in.waiting.size(), 3 - c.appended);
        ASSERT_EQ(f.fake.boxes.boxes.size(), c.refused ? 1u : 0u);
        if (c.refused) {
            EXPECT_TRUE(f.fake.boxes.boxes[0].prompt.contains("2,147,483,647"));
            EXPECT_EQ(f.fake.boxes.boxes[0].style, MessageBoxes::vbOKOnly);
            EXPECT_EQ(f.fake.boxes.boxes[0].title, "Tandrel");
        }
        EXPECT_EQ(f.w->bDumpUnsaved, !c.refused);
    }
}

TEST(PortErrorEvents, ShowTheTextUnlessTheCodeIsZeroOrEight)
{
    const struct {
        std::int16_t code;
        bool shown;
    } cases[] = {{0, false}, {8, false}, {1, true}, {7, true}, {9, true}, {-1, true}};
    for (const bool input : {true, false}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(input ? "input " : "output ") + std::to_string(c.code));
            Fixture f;
            const QString text = QStringLiteral("Device \"x\" is busy.\r\nTry again.");
            input ? f.fake.in.fireError(c.code, text) : f.fake.out.fireError(c.code, text);
            ASSERT_EQ(f.fake.boxes.boxes.size(), c.shown ? 1u : 0u);
            if (c.shown) {
                EXPECT_EQ(f.fake.boxes.boxes[0].prompt, text);
                EXPECT_EQ(f.fake.boxes.boxes[0].style, MessageBoxes::vbOKOnly);
                EXPECT_EQ(f.fake.boxes.boxes[0].title, "Tandrel");
            }
            EXPECT_EQ(f.fake.log.only("in.").size() + f.fake.log.only("out.").size(), 0u);
        }
    }
}

TEST(ReceiveMessageEvent, AWindowClosedDuringTheYieldLeavesThePortsAlone)
{
    Fixture f;
    f.fake.loop.onDoEvents = [&] { f.w->close(); };
    f.fake.in.deliver({message(10, 'a')});
    ASSERT_TRUE(f.w->unloaded());
    const Log& log = f.fake.log.entries();
    EXPECT_EQ(log.back(), "End");
    EXPECT_TRUE(f.MAIN.sSysexData.empty());
}
