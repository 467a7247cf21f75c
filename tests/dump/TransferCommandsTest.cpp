// SPDX-License-Identifier: GPL-3.0-or-later
// Receive, Send and the ports' events on the real main window with doubled ports.
#include "dump/DumpWindow.h"
#include "platform/QtServices.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <limits>
#include <optional>
#include <set>
#include <thread>

using namespace tandrel;
using namespace tandrel::testing;

namespace {

//! Runs the window's events for `ms` milliseconds: by default long enough for a
//! count that waits for its frame, and then for a request that never comes, to be drawn.
constexpr int kFrameAndSlackMs = static_cast<int>((FramePacer::Frame + FramePacer::Slack).count() / 1000);
void settle(int ms = kFrameAndSlackMs + 30)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

//! The text the status line shows at every paint it actually gets, the paints of
//! the progress bar, and the window's paint passes (each ends in one flush to the
//! screen) in which the line and the bar were painted.
struct PaintRecorder : QObject {
    explicit PaintRecorder(frmMain& w) : w(w)
    {
        w.show();
        for (int i = 0; i < 100 && !(w.windowHandle() && w.windowHandle()->isExposed()); ++i)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        settle();
        w.installEventFilter(this);
        w.lblStatus->installEventFilter(this);
        w.proSend->installEventFilter(this);
    }
    bool eventFilter(QObject* watched, QEvent* e) override
    {
        if (e->type() == QEvent::UpdateRequest && watched == &w)
            ++passes;
        if (e->type() != QEvent::Paint)
            return false;
        if (watched == w.lblStatus) {
            texts.push_back(w.lblStatus->text());
            textPasses.push_back(passes);
        } else if (watched == w.proSend) {
            ++barPaints;
            barPasses.push_back(passes);
        }
        return false;
    }
    frmMain& w;
    QStringList texts;
    int barPaints = 0, passes = 0;
    std::vector<int> textPasses, barPasses;
};

//! The count in "Received 512 bytes; Save" or " 512 bytes sent to GT-3"; -1 for other texts.
long long countIn(const QString& text)
{
    static const QRegularExpression count(QStringLiteral("^(?:Received)? (\\d+) bytes"));
    const auto m = count.match(text);
    return m.hasMatch() ? m.captured(1).toLongLong() : -1;
}

//! The most paints a display-rate line may get in `ms`: one a frame, the first
//! at once, and a few for the changes of state around it.
int mostPaintsIn(qint64 ms)
{
    return static_cast<int>(ms * 1000 / FramePacer::Frame.count()) + 4;
}

//! Records the bar and the status at every yield of the send.
struct SendFixture : DumpWindow {
    std::vector<float> values;
    QStringList texts;
    std::function<void()> atFirstYield = [] {};
    SendFixture()
    {
        fake.loop.onDoEvents = [this] {
            values.push_back(w->proSend->Value());
            texts.push_back(w->statusText());
            EXPECT_TRUE(w->statusColour() == frmMain::kYellow && w->proSend->Visible());
            if (fake.loop.yields == 1)
                atFirstYield();
        };
    }
    void expectFinished() const
    {
        EXPECT_EQ(w->statusText(), "Sent sysex to GT-3--ready to Receive or Open");
        EXPECT_EQ(w->statusColour(), frmMain::kGreen);
        EXPECT_EQ(fake.beeper.beeps, 1);
        EXPECT_TRUE(!w->proSend->Visible() && w->proSend->Value() == w->proSend->Min());
        EXPECT_TRUE(MAIN.sSysexData.empty() && MAIN.lByteCount == 0);
        const auto in = fake.log.only("in.");  // the input stops for the send and restarts after it
        EXPECT_TRUE(in.front() == "in.Command=5" && in.back() == "in.Command=4");
    }
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
        EXPECT_TRUE(f.w->statusText() == "Ready to Receive or Open" && f.w->statusColour() == frmMain::kGreen);
    }
}

TEST(ReceiveMessageEvent, DrainsWhatWaitsAndAlwaysMarksTheDumpUnsaved)
{
    const struct {
        const char* name; std::vector<ByteString> waiting, duringYield /* by a nested event */;
        std::optional<std::int16_t> scriptedCount; ByteString expected; QStringList painted;
    } cases[] = {
        // The first count is drawn at once; the ones within its frame wait, and the latest is drawn.
        {"three messages", {a, b, c}, {}, {}, a + b + c, {"Received 10 bytes; Save", "Received 60 bytes; Save"}},
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
        settle();
        EXPECT_EQ(f.MAIN.sSysexData, k.expected);
        EXPECT_EQ(f.MAIN.lByteCount, static_cast<std::int32_t>(k.expected.size()));
        EXPECT_EQ(paints.texts, k.painted);
        EXPECT_EQ(f.w->statusColour(), k.painted.isEmpty() ? frmMain::kGreen : frmMain::kYellow);
        EXPECT_TRUE(f.w->bDumpUnsaved);
    }
}

TEST(StatusLine, RunsAtDisplayRateWithGrowingCountsDuringALongReceive)
{
    const struct { const char* name; int events, perEvent; std::chrono::microseconds gap; } cases[] = {
        {"one event drains a long burst", 1, 30000, {}},
        {"an event for every message", 3000, 1, std::chrono::microseconds(100)},
        {"an event every JACK cycle", 60, 50, std::chrono::milliseconds(5)},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        DumpWindow f;
        PaintRecorder paints(*f.w);
        QElapsedTimer clock;
        clock.start();
        for (int e = 0; e < k.events; ++e) {
            f.fake.in.deliver(std::vector<ByteString>(k.perEvent, a));
            std::this_thread::sleep_for(k.gap);
            QCoreApplication::processEvents();  // the window's own loop between the port's events
        }
        const qint64 elapsed = clock.elapsed();
        settle();
        const QString last = QStringLiteral("Received %1 bytes; Save").arg(10LL * k.events * k.perEvent);
        EXPECT_EQ(f.w->statusText(), last);
        ASSERT_FALSE(paints.texts.isEmpty());
        EXPECT_EQ(paints.texts.back(), last);  // the latest count is drawn, after the burst too
        EXPECT_LE(paints.texts.size(), mostPaintsIn(elapsed)) << elapsed << " ms";
        QSet<long long> counts;
        for (qsizetype i = 0; i < paints.texts.size(); ++i) {
            EXPECT_GT(countIn(paints.texts[i]), 0) << paints.texts[i].toStdString();
            if (i > 0) {
                EXPECT_LE(countIn(paints.texts[i - 1]), countIn(paints.texts[i])) << i;
            }
            counts.insert(countIn(paints.texts[i]));
        }
        // The count visibly runs while the messages arrive: a frame's worth every frame.
        EXPECT_GE(counts.size(), std::min<qsizetype>(3, elapsed * 1000 / FramePacer::Frame.count() / 2)) << elapsed << " ms";
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
    EXPECT_TRUE(f.fake.log.entries().back() == "End" && f.MAIN.sSysexData.empty());
}

TEST(PortErrorEvents, ShowTheTextUnlessTheCodeIsZeroOrEight)
{
    const QString text = QStringLiteral("Device \"x\" is busy.\r\nTry again.");
    for (const std::int16_t code : {0, 8, 1, 7, 9, -1}) {
        SCOPED_TRACE(code);
        DumpWindow f;
        f.fake.in.fireError(code, text);
        f.out.fireError(code, text);
        ASSERT_EQ(f.fake.boxes.boxes.size(), code != 0 && code != 8 ? 2u : 0u);  // one for each port
        for (const auto& box : f.fake.boxes.boxes)
            EXPECT_TRUE(box.prompt == text && box.title == "Tandrel" && box.style == MessageBoxes::vbOKOnly);
    }
}

TEST(SendCommand, SendsEveryWholeMessageInOrderAndEndsReady)
{
    const struct {
        const char* name; ByteString dump, padding /* read back beyond the bytes given */; int failingTransmit;
        std::vector<ByteString> sent; float max; std::vector<float> values; QStringList texts;
    } cases[] = {
        {"three messages", a + b + c, "", 0, {a, b, c}, 15, {2.5, 7.5, 15},
         {" 10 bytes sent to GT-3", " 30 bytes sent to GT-3", " 60 bytes sent to GT-3"}},
        {"a cut-off last message", a + "\xF0\x41\x10", "", 0, {a}, 3.25, {2.5}, {" 10 bytes sent to GT-3"}},
        {"no F7 at all", "\xF0\x41\x10\x12", "", 0, {}, 1, {}, {}},
        {"pieces without F0", ByteString("\x41\xF7\xF7\x00\x7F\xF7", 6), "", 0,
         {"\x41\xF7", "\xF7", ByteString("\x00\x7F\xF7", 3)}, 1.5, {0.5, 0.75, 1.5},
         {" 2 bytes sent to GT-3", " 3 bytes sent to GT-3", " 6 bytes sent to GT-3"}},
        // Failing steps are skipped: the bar refuses 3 > 2.5, and 12 > 10 ends the loop.
        {"read-back beyond the bar", a, "xx", 0, {a}, 2.5, {0}, {" 12 bytes sent to GT-3"}},
        {"second transmission fails", a + b + c, "", 2, {a, c}, 15, {2.5, 7.5, 15},
         {" 10 bytes sent to GT-3", " 30 bytes sent to GT-3", " 60 bytes sent to GT-3"}},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        SendFixture f;
        f.out.padding = k.padding;
        f.out.failingTransmit = k.failingTransmit;
        f.MAIN.sSysexData = k.dump;
        f.MAIN.lByteCount = 99;
        f.w->bDumpUnsaved = true;
        f.fake.boxes.answers = {MessageBoxes::vbYes};  // a damaged dump is sent anyway
        f.w->cmdSend->click();
        EXPECT_EQ(f.out.sent, k.sent);
        // The status goes before every transmission, and once more before a search that finds no further F7.
        EXPECT_EQ(f.fake.log.only("out.MessageStatus=240").size(), k.values.size() + (k.dump.back() != '\xF7'));
        EXPECT_EQ(f.values, k.values);
        EXPECT_EQ(f.texts, k.texts);
        EXPECT_FLOAT_EQ(f.w->proSend->Max(), k.max);
        f.expectFinished();
        EXPECT_TRUE(f.w->bDumpUnsaved);
        EXPECT_EQ(f.w->focusWidget(), f.w->cmdFocus);
    }
}

TEST(StatusLine, RunsAtDisplayRateDuringALongSendAndEndsOnTheFinalText)
{
    // The send ends drawn on its final text, not on a count that waited for its
    // frame, whether or not the yields ran the window's events.
    for (const bool yieldsRunEvents : {true, false}) {
        SCOPED_TRACE(yieldsRunEvents);
        DumpWindow f;
        PaintRecorder paints(*f.w);
        f.fake.loop.processQtEvents = yieldsRunEvents;
        // As long as a few frames, as a port paced by its transport makes it.
        f.fake.loop.onDoEvents = [] { std::this_thread::sleep_for(std::chrono::microseconds(60)); };
        ByteString dump;
        for (int i = 0; i < 4000; ++i)
            dump += message(100, 'd');
        f.MAIN.sSysexData = dump;
        QElapsedTimer clock;
        clock.start();
        f.w->cmdSend->click();
        const qint64 elapsed = clock.elapsed();
        settle();
        EXPECT_EQ(f.out.sent.size(), 4000u);
        ASSERT_FALSE(paints.texts.isEmpty());
        EXPECT_EQ(paints.texts.back(), "Sent sysex to GT-3--ready to Receive or Open");
        EXPECT_EQ(f.w->lblStatus->text(), "Sent sysex to GT-3--ready to Receive or Open");
        EXPECT_EQ(f.w->statusColour(), frmMain::kGreen);
        EXPECT_TRUE(!f.w->proSend->Visible() && f.w->proSend->value() == f.w->proSend->minimum());
        QStringList running = paints.texts.filter(QStringLiteral("bytes sent to GT-3"));
        EXPECT_LE(running.size(), mostPaintsIn(elapsed)) << elapsed << " ms";
        EXPECT_LE(paints.barPaints, mostPaintsIn(elapsed)) << elapsed << " ms";
        for (qsizetype i = 1; i < running.size(); ++i)
            EXPECT_LT(countIn(running[i - 1]), countIn(running[i])) << i;
        EXPECT_GE(running.size(), std::min<qsizetype>(3, elapsed * 1000 / FramePacer::Frame.count() / 2)) << elapsed << " ms";
        // Every frame draws the count and the bar together, in one pass and one flush.
        const std::set<int> barPasses(paints.barPasses.begin(), paints.barPasses.end());
        std::set<int> countPasses;
        for (qsizetype i = 0; i < paints.texts.size(); ++i)
            if (countIn(paints.texts[i]) > 0)
                countPasses.insert(paints.textPasses[static_cast<std::size_t>(i)]);
        EXPECT_EQ(countPasses.size(), static_cast<std::size_t>(running.size()));
        for (const int pass : countPasses)
            EXPECT_EQ(barPasses.count(pass), 1u) << "pass " << pass;
    }
}

TEST(SendCommand, AnEmptyDumpOnlyMovesTheFocusAndSaysSo)
{
    SendFixture f;
    f.w->cmdSend->click();
    EXPECT_EQ(f.fake.log.entries(), std::vector<std::string>{"MsgBox:There's no file open to send to the GT-3."});
    EXPECT_EQ(f.w->focusWidget(), f.w->cmdFocus);
}

TEST(SendCommand, OtherCommandsDuringAYield)
{
    QTemporaryDir dir;
    const QString saved = dir.filePath(QStringLiteral("saved.syx")), other = dir.filePath(QStringLiteral("other.syx"));
    ASSERT_TRUE(writeFile(other, b + c));
    const struct {
        const char* name; std::function<void(SendFixture&)> atFirstYield; std::size_t transmitted; bool finished;
    } cases[] = {
        {"second Send", [](SendFixture& f) { f.w->cmdSend->click(); }, 3, true},
        {"Receive", [](SendFixture& f) { f.w->cmdReceive->click(); }, 1, true},
        {"completed Save", [&](SendFixture& f) { f.fake.dialog.willChoose(saved); f.w->cmdSave->click(); }, 1, true},
        {"cancelled Save", [](SendFixture& f) { f.fake.dialog.willCancel(); f.w->cmdSave->click(); }, 3, true},
        {"cancelled Open", [](SendFixture& f) { f.fake.dialog.willCancel(); f.w->cmdOpen->click(); }, 3, true},
        {"Open", [&](SendFixture& f) { f.fake.dialog.willChoose(other); f.w->cmdOpen->click(); }, 1, true},
        {"Quit", [](SendFixture& f) { f.w->cmdQuit->click(); }, 1, false},
        {"window closed", [](SendFixture& f) { f.w->close(); }, 1, false},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        SendFixture f;
        f.atFirstYield = [&] { k.atFirstYield(f); };
        f.MAIN.sSysexData = a + b + c;
        f.w->cmdSend->click();
        EXPECT_EQ(f.out.sent.size(), k.transmitted);
        EXPECT_EQ(f.w->unloaded(), !k.finished);
        EXPECT_FALSE(f.w->sending());
        if (std::string_view(k.name) == "Open") {  // the opened file stays held for the next Send
            EXPECT_EQ(f.MAIN.sSysexData, b + c);
            EXPECT_TRUE(f.w->statusText().endsWith(" open\r  Set GT-3 to receive; click Send to transmit."));
            EXPECT_TRUE(f.w->statusColour() == frmMain::kGreen && !f.w->proSend->Visible() && f.fake.beeper.beeps == 0);
            EXPECT_EQ(f.fake.log.only("in.Command").back(), "in.Command=4");
        } else if (k.finished) {
            f.expectFinished();
        } else {  // nothing touches the ports once the window has unloaded
            EXPECT_TRUE(f.fake.log.entries().back() == "End" && f.fake.beeper.beeps == 0);
        }
    }
    EXPECT_EQ(fileBytes(saved), a + b + c);
}

TEST(SendCommand, QtsYieldHandlesWhatComesDuringALongSend)
{
    // Qt's own yield skips asking the system for input and timers when it asked
    // less than a millisecond ago: what is posted must still run at the next
    // message (these come microseconds apart), and a timer within about a
    // millisecond of being due.
    using namespace std::chrono_literals;
    constexpr std::size_t kMessages = 400, kArmedAt = 5;
    const struct {
        const char* name; std::function<void(frmMain&, std::function<void()>)> arm;
        std::chrono::microseconds nap /* per message */; std::size_t earliest, latest /* messages sent when it ran */, sent;
    } cases[] = {
        {"a queued click on Receive",
         [](frmMain& w, std::function<void()> ran) {
             QMetaObject::invokeMethod(w.cmdReceive, [&w, ran] { ran(); w.cmdReceive->click(); }, Qt::QueuedConnection);
         },
         0us, kArmedAt, kArmedAt, kArmedAt},
        // A message takes at least 0.1 ms here, so a timer that waited for more than
        // about 2 ms of yields would have seen 20 more messages.
        {"a timer due in 1 ms",
         [](frmMain& w, std::function<void()> ran) { QTimer::singleShot(1ms, Qt::PreciseTimer, &w, ran); },
         100us, kArmedAt + 1, kArmedAt + 25, kMessages},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        DumpWindow f;
        QtEventLoop qt;
        std::optional<std::size_t> ranAt;
        f.fake.loop.onDoEvents = [&] {
            std::this_thread::sleep_for(k.nap);
            if (f.out.sent.size() == kArmedAt && f.fake.loop.yields == kArmedAt)
                k.arm(*f.w, [&] { ranAt = f.out.sent.size(); });
            qt.DoEvents();
        };
        for (std::size_t i = 0; i < kMessages; ++i)
            f.MAIN.sSysexData += a;
        f.w->cmdSend->click();
        ASSERT_TRUE(ranAt.has_value());
        EXPECT_GE(*ranAt, k.earliest);
        EXPECT_LE(*ranAt, k.latest);
        EXPECT_EQ(f.out.sent.size(), k.sent);
    }
}
