// SPDX-License-Identifier: GPL-3.0-or-later
// Faults injected into real transfers: the real main window on the production ports, a
// private JACK server and gt3sim as the GT-3. The program stays up, keeps every whole
// message, says what happened once, never hangs, and works again without a restart.
#include "app/frmMain.h"
#include "platform/JackMonitor.h"
#include "platform/MidiErrors.h"
#include "platform/MidiPorts.h"
#include "platform/RtMidiInput.h"
#include "platform/RtMidiOutput.h"
#include "platform/testing/FakeServices.h"
#include "setup/MIDISetupForm.h"
#include "setup/SettingsKeys.h"
#include "support/CrashBacktrace.h"
#include "support/JackServer.h"

#include <QAbstractEventDispatcher>
#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <optional>
#include <thread>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tandrel;
using namespace tandrel::testing;
using namespace std::chrono_literals;

// Crashes for the crash handler to name: outside the anonymous namespace, so that their
// names are in the program's dynamic symbol table, as the handler's frames need.
[[gnu::noinline]] void crashProbeSegv()
{
    volatile std::uintptr_t unmapped = 16;
    *reinterpret_cast<volatile int*>(unmapped) = 1;
}
[[gnu::noinline]] void crashProbeBus()
{
    ::raise(SIGBUS);
}
[[gnu::noinline]] void crashProbeAbort()
{
    static volatile bool always = true;
    if (always) std::abort();  // not the last call: its return address stays inside this function
}

namespace {

//! The longest time the JACK server ran no cycle while watched. A peer killed mid-transfer
//! stalls it about five seconds, which the output must ride out; only a much longer stall,
//! which a starved machine can cause by itself, lets the port take the server for gone.
struct StallWatch {
    std::unique_ptr<JackMonitor> monitor = JackMonitor::connect(nullptr);
    std::atomic<long long> longestMs{0};
    std::jthread thread{[this](std::stop_token stop) {
        auto last = std::chrono::steady_clock::now();
        for (std::uint64_t cycles = 0; !stop.stop_requested(); std::this_thread::sleep_for(5ms)) {
            const auto now = std::chrono::steady_clock::now();
            if (const std::uint64_t c = monitor ? monitor->cycles() : 0; c != cycles) {
                cycles = c;
                last = now;
            }
            longestMs = std::max<long long>(longestMs, (now - last) / 1ms);
        }
    }};
};

//! The event dispatcher of a thread that never runs. Posting an event to an object of that
//! thread calls its wakeUp() on the posting thread, which, once armed, holds the poster there
//! a while: a JACK callback that posts is caught in the middle.
class StallingDispatcher : public QAbstractEventDispatcher {
public:
    std::atomic<bool> armed{false}, entered{false}, finished{false};

    void wakeUp() override
    {
        if (!armed) return;
        entered = true;
        // No system call in here: nothing but an asynchronous cancel can stop it.
        for (const auto until = std::chrono::steady_clock::now() + 300ms; std::chrono::steady_clock::now() < until;) {
        }
        finished = true;
    }
    bool processEvents(QEventLoop::ProcessEventsFlags) override { return false; }
    void registerSocketNotifier(QSocketNotifier*) override {}
    void unregisterSocketNotifier(QSocketNotifier*) override {}
    void registerTimer(int, qint64, Qt::TimerType, QObject*) override {}
    bool unregisterTimer(int) override { return false; }
    bool unregisterTimers(QObject*) override { return false; }
    QList<TimerInfo> registeredTimers(QObject*) const override { return {}; }
    int remainingTime(int) override { return -1; }
    void interrupt() override {}
};

//! `part` is the dump's first whole messages: a prefix that ends on an F7.
bool wholeMessagesOf(const ByteString& part, const ByteString& dump)
{
    return dump.starts_with(part) && (part.empty() || part.back() == '\xF7');
}

//! The real window on the production ports, the rest doubled; Qt's events run at every yield.
struct App {
    //! `output`: the stored output device, " 0" (the first listed) or "-1" (Tandrel's own port).
    explicit App(const QString& output)
    {
        fake.settings.values = {{settings::kUserSetup, "1"}, {settings::kMIDIInputDeviceID, " 0"},
                                {settings::kMIDIOutputDeviceID, output}};
        fake.loop.processQtEvents = true;
    }
    ~App() { w->close(); }

    //! Shows Setup and leaves it by Set or Cancel; the inputs it listed.
    QStringList setupInputs(bool set)
    {
        QStringList inputs;
        QTimer::singleShot(0, [&] {
            ASSERT_NE(w->setupForm(), nullptr);
            for (int i = 0; i < w->setupForm()->cmbMIDIInDevice->count(); ++i)
                inputs << w->setupForm()->cmbMIDIInDevice->itemText(i);
            set ? w->setupForm()->cmdSet_Click() : w->setupForm()->CmdCancel_Click();
        });
        w->cmdSetup_Click();
        return inputs;
    }
    std::string boxes() const
    {
        std::string all;
        for (const auto& b : fake.boxes.boxes) all += b.prompt.toStdString() + "\n";
        return all;
    }

    FakeServices fake;
    std::unique_ptr<MIDIInput> in = CreateMIDIInput();
    std::unique_ptr<MIDIOutput> out = CreateMIDIOutput();
    Services services{*in, *out, fake.dialog, fake.boxes, fake.settings, fake.folders, fake.beeper, fake.loop};
    DumpState MAIN;
    std::unique_ptr<frmMain> w = std::make_unique<frmMain>(services, MAIN);
};

class MidiFault : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!JackServer::installed()) GTEST_SKIP() << "jackd2 tools (jackd, jack_lsp, jack_connect) are not installed";
        ASSERT_FALSE(gt3simPath().isEmpty()) << "gt3sim is not built";
        alarm(240);                              // SIGALRM: a hang fails at once
        qputenv("TANDREL_MIDI_PACING", "fast");  // the app sends as fast as JACK takes it; gt3sim plays a cable
        auto gen = startGt3sim({"generate", dumpPath, "--size", "125000"});
        ASSERT_TRUE(finishGt3sim(*gen, 30s) && gen->exitCode() == 0);
        dump = readBytes(dumpPath).toStdString();
        jack.emplace();
        ASSERT_TRUE(jack->ok()) << jack->error().toStdString();
    }
    void TearDown() override { alarm(0); }

    //! gt3sim transmitting the dump (or `file`), as the GT-3 would, to whoever connects.
    std::unique_ptr<QProcess> transmitter(const QString& name, const QString& pacing, const QString& file = {})
    {
        auto sim = startGt3sim({"transmit", file.isEmpty() ? dumpPath : file, "--pacing", pacing, "--name", name,
                                "--wait-ms", "60000"});
        EXPECT_TRUE(jack->waitForPort(name + ":out", 30s));
        return sim;
    }
    //! The app started with no device there yet (the input's open fails and says so),
    //! then the sender started and Receive clicked: the input starts before its first message.
    std::unique_ptr<QProcess> startReceiving(App& app, const QString& pacing, const QString& file = {})
    {
        app.w->Form_Load();
        runEventsFor(200ms);
        auto sender = transmitter("gt3", pacing, file);
        app.w->cmdReceive_Click();
        app.fake.boxes.boxes.clear();
        return sender;
    }

    QTemporaryDir dir;
    QString dumpPath = dir.filePath("gt3.syx");
    ByteString dump;
    std::optional<JackServer> jack;
};

TEST_F(MidiFault, LossMidReceiveKeepsEveryWholeMessageAndANewReceiveWorks)
{
    for (const bool serverDies : {true, false}) {
        SCOPED_TRACE(serverDies ? "JACK server killed" : "gt3sim killed");
        App app("-1");
        auto sim = startReceiving(app, "din");
        ASSERT_TRUE(runEventsUntil([&] { return app.MAIN.sSysexData.size() >= 3000; }, 30s)) << app.boxes();
        serverDies ? jack->kill() : sim->kill();
        ASSERT_TRUE(!serverDies || runEventsUntil([&] { return !app.fake.boxes.boxes.empty(); }, 10s));
        runEventsFor(1500ms);
        const ByteString& kept = app.MAIN.sSysexData;
        EXPECT_TRUE(wholeMessagesOf(kept, dump) && kept.size() < dump.size()) << kept.size() << " bytes kept";
        EXPECT_EQ(app.MAIN.lByteCount, static_cast<std::int32_t>(kept.size()));
        EXPECT_TRUE(app.w->bDumpUnsaved);
        EXPECT_FALSE(app.w->unloaded());
        std::erase_if(app.fake.boxes.boxes, [&](const auto& box) { return jack->xrunExplains(box.prompt); });
        // The server's end is told once. A peer's end is not told as such; the cycles JACK
        // misses while it drops a killed peer (an xrun) are, once, as a dump that may be incomplete.
        if (serverDies) {
            EXPECT_EQ(app.fake.boxes.boxes.size(), 1u) << app.boxes();
            EXPECT_NE(app.boxes().find("JACK"), std::string::npos) << app.boxes();
        } else {
            EXPECT_LE(app.fake.boxes.boxes.size(), 1u) << app.boxes();
            for (const auto& box : app.fake.boxes.boxes)
                EXPECT_TRUE(box.prompt.contains("may be incomplete")) << app.boxes();
        }
        finishGt3sim(*sim, 10s);
        app.fake.boxes.boxes.clear();
        if (serverDies) {
            // The server comes back: Setup, cancelled or set, lists the devices again. The dialog
            // opens the input without starting it, so what the sender plays meanwhile is dropped.
            jack.reset();
            jack.emplace();
            ASSERT_TRUE(jack->ok()) << jack->error().toStdString();
            auto listedPeer = transmitter("gt3back", "din");
            EXPECT_EQ(app.setupInputs(false), QStringList{"gt3back:out"});
            EXPECT_EQ(app.setupInputs(true), QStringList{"gt3back:out"});
            listedPeer->kill();
            listedPeer->waitForFinished(5000);
            runEventsFor(300ms);
            EXPECT_TRUE(app.fake.boxes.boxes.empty()) << app.boxes();
        }
        // A new Receive, from the first input device: a fresh sender, gets every byte.
        app.fake.boxes.answers.push_back(MessageBoxes::vbNo);  // discard the partial dump
        auto again = transmitter(serverDies ? "gt3again" : "gt3next", "fast");
        app.w->cmdReceive_Click();
        ASSERT_TRUE(runEventsUntil([&] { return app.MAIN.sSysexData.size() >= dump.size(); }, 60s))
            << app.MAIN.sSysexData.size() << " bytes; " << app.boxes();
        EXPECT_TRUE(finishGt3sim(*again, 30s));
        runEventsFor(300ms);
        EXPECT_EQ(app.MAIN.sSysexData, dump);
        std::erase_if(app.fake.boxes.boxes, [&](const auto& box) { return jack->xrunExplains(box.prompt); });
        EXPECT_EQ(app.fake.boxes.boxes.size(), 1u) << "only the save-first prompt: " << app.boxes();
    }
}

// A peer that stops answering mid-dump makes the server miss cycles (an xrun), and the MIDI
// of those cycles may be gone: the user is told once that the dump may be incomplete.
TEST_F(MidiFault, AnXrunMidReceiveIsToldOnceAndTheDumpIsKept)
{
    const QString part = dir.filePath("part.syx");
    QFile f(part);
    const ByteString head = dump.substr(0, dump.find('\xF7', 12000) + 1);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(head.data(), static_cast<qint64>(head.size())) > 0);
    f.close();
    App app("-1");
    auto sim = startReceiving(app, "din", part);
    ASSERT_TRUE(runEventsUntil([&] { return app.MAIN.sSysexData.size() >= 2000; }, 30s)) << app.boxes();
    ::kill(static_cast<pid_t>(sim->processId()), SIGSTOP);
    runEventsFor(1500ms);
    ::kill(static_cast<pid_t>(sim->processId()), SIGCONT);
    runEventsFor(1000ms);
    sim->kill();
    ASSERT_GT(jack->xruns(), 0) << "the server missed no cycle";
    EXPECT_EQ(app.fake.boxes.boxes.size(), 1u) << app.boxes();
    EXPECT_NE(app.boxes().find("may be incomplete"), std::string::npos) << app.boxes();
    EXPECT_TRUE(wholeMessagesOf(app.MAIN.sSysexData, head) && app.MAIN.sSysexData.size() >= 2000)
        << app.MAIN.sSysexData.size() << " bytes kept";
    EXPECT_TRUE(app.w->bDumpUnsaved);
}

TEST_F(MidiFault, ServerKilledWithMessagesWaitingHandsEveryOneOver)
{
    // The dump waits behind the window's events when the server dies; not one waiting byte may be lost.
    App app("-1");
    auto sim = startReceiving(app, "fast");
    app.fake.loop.onDoEvents = [] { QCoreApplication::sendPostedEvents(); };  // as Qt's own dispatcher does
    ASSERT_TRUE(finishGt3sim(*sim, 30s));
    jack->kill();
    QThread::msleep(1500);  // the port and the monitor hear of it; the window has yet to
    ASSERT_TRUE(runEventsUntil([&] { return app.MAIN.sSysexData.size() >= dump.size(); }, 10s))
        << "lost " << dump.size() - app.MAIN.sSysexData.size() << " bytes; " << app.boxes();
    runEventsFor(500ms);
    EXPECT_EQ(app.MAIN.sSysexData, dump);
    std::erase_if(app.fake.boxes.boxes, [&](const auto& box) { return jack->xrunExplains(box.prompt); });
    EXPECT_EQ(app.fake.boxes.boxes.size(), 1u) << app.boxes();
}

// A click during a send's pacing wait (DIN, so every message waits) ends the send: that is the
// user's doing, not an error, and the count shown is what went out. The server's end after it
// is still told.
TEST_F(MidiFault, ASendTheUserStopsSaysNothingAndCountsWhatWentOut)
{
    enum class Click { Receive, Open, OpenThenServerStops };
    struct Case {
        const char* name;
        Click click;
        QString finalStatus;
        bool jackBox;
    };
    const QString opened = " open\r  Set GT-3 to receive; click Send to transmit.";
    const std::vector<Case> cases = {
        {"Receive", Click::Receive, "Sent sysex to GT-3--ready to Receive or Open", false},
        {"Open", Click::Open, " /gt3.syx" + opened, false},
        {"Open, then the server stops", Click::OpenThenServerStops, " /gt3.syx" + opened, true},
    };
    qputenv("TANDREL_MIDI_PACING", "din");
    int round = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString name = QString("rx%1").arg(round++), recorded = dir.filePath(name + ".syx");
        auto sim = startGt3sim({"receive", recorded, "--name", name, "--idle-ms", "3000", "--timeout-ms", "60000"});
        ASSERT_TRUE(jack->waitForPort(name + ":in", 30s));
        // The input's device, silent until long after the test.
        auto peer = startGt3sim({"transmit", dumpPath, "--name", "gt3" + name, "--wait-ms", "60000", "--delay-ms", "120000"});
        ASSERT_TRUE(jack->waitForPort("gt3" + name + ":out", 30s));
        App app(" 0");
        app.w->Form_Load();
        app.fake.dialog.willChoose(dumpPath);
        app.w->cmdOpen_Click();
        runEventsFor(200ms);
        ASSERT_TRUE(app.fake.boxes.boxes.empty()) << app.boxes();

        QString lastCount;
        int yields = 0;
        app.fake.loop.onDoEvents = [&] {
            lastCount = app.w->statusText();
            if (++yields != 10) return;
            // Runs at the next look at the window's events: inside the next message's wait.
            QTimer::singleShot(0, [&] {
                app.fake.boxes.answers.push_back(MessageBoxes::vbNo);
                app.fake.dialog.willChoose(dumpPath);
                c.click == Click::Receive ? app.w->cmdReceive_Click() : app.w->cmdOpen_Click();
                if (c.click == Click::OpenThenServerStops) jack->kill();
            });
        };
        app.w->cmdSend_Click();
        runEventsFor(1500ms);
        EXPECT_FALSE(app.w->sending());
        EXPECT_EQ(app.w->statusText().toStdString(), c.finalStatus.toStdString());
        if (c.jackBox) {
            EXPECT_EQ(app.fake.boxes.boxes.size(), 1u) << app.boxes();
            EXPECT_NE(app.boxes().find("JACK"), std::string::npos) << app.boxes();
            finishGt3sim(*sim, 10s);
            jack.reset();
            jack.emplace();
            ASSERT_TRUE(jack->ok()) << jack->error().toStdString();
            continue;
        }
        EXPECT_TRUE(app.fake.boxes.boxes.empty()) << app.boxes();
        EXPECT_TRUE(finishGt3sim(*sim, 20s));
        const ByteString got = readBytes(recorded).toStdString();
        EXPECT_TRUE(wholeMessagesOf(got, dump) && !got.empty()) << got.size() << " bytes went out";
        EXPECT_EQ(lastCount.toStdString(), QString(" %1 bytes sent to GT-3").arg(got.size()).toStdString());
    }
    qputenv("TANDREL_MIDI_PACING", "fast");
}

// The server dies and a new one is up before the window has handled the news; the input is
// used on the new server first, while the output still holds the dead server's watch.
TEST_F(MidiFault, ARestartedServerIsNotTakenForTheOneThatStopped)
{
    for (const bool listFirst : {true, false}) {
        SCOPED_TRACE(listFirst ? "a device list first" : "an open first");
        auto in = CreateMIDIInput();
        auto out = CreateMIDIOutput();
        std::vector<std::int16_t> codes;
        in->events.Error = out->events.Error = [&](std::int16_t code, const QString& text) {
            if (!jack->xrunExplains(text)) codes.push_back(code);
        };
        ByteString got;
        in->events.Message = [&] {
            for (; !in->MessageData().empty() && in->MessageCount() > 0; in->setCommand(MIDIInput::DiscardOldest))
                got += in->MessageData();
        };
        auto old = transmitter("gt3old", "din");
        in->setDeviceID(0);
        in->setCommand(MIDIInput::Open);
        in->setCommand(MIDIInput::Start);
        out->setDeviceID(MIDIOutput::MidiMapper);
        out->setCommand(MIDIOutput::Open);
        ASSERT_TRUE(in->State() == MIDIInput::Delivering && out->State() == MIDIOutput::Opened);

        jack->kill();
        QThread::msleep(1500);  // the watches hear of it; the window has yet to
        jack.reset();
        jack.emplace();
        ASSERT_TRUE(jack->ok()) << jack->error().toStdString();
        auto sim = transmitter("gt3new", "fast");
        if (listFirst) {
            EXPECT_EQ(in->DeviceCount(), 1);
        }
        in->setDeviceID(0);
        in->setCommand(MIDIInput::Open);
        in->setCommand(MIDIInput::Start);
        EXPECT_TRUE(runEventsUntil([&] { return got.size() >= dump.size(); }, 30s)) << got.size() << " bytes";
        runEventsFor(300ms);
        EXPECT_EQ(in->State(), MIDIInput::Delivering);
        EXPECT_TRUE(got == dump) << got.size() << " bytes";
        out->setCommand(MIDIOutput::Open);
        EXPECT_EQ(out->State(), MIDIOutput::Opened);
        runEventsFor(200ms);
        // The one stop there was is told once; nothing else is said.
        EXPECT_EQ(std::count(codes.begin(), codes.end(), code(MidiError::ServerStopped)), 1);
        EXPECT_EQ(std::count_if(codes.begin(), codes.end(), [](std::int16_t c) { return c != 0 && c != 8; }), 1);
        finishGt3sim(*sim, 10s);
        old->kill();
    }
}

// Start-up makes the MIDI system's clients ahead of need. A server that stops and comes back
// before the ports first use them leaves those clients on the dead server: they go before
// anything joins the new one (libjack breaks otherwise), and the ports open on the new server.
TEST_F(MidiFault, ClientsMadeAheadOnAServerThatStoppedAreNotUsed)
{
    auto in = CreateMIDIInput();
    auto out = CreateMIDIOutput();
    std::vector<std::string> errors;
    in->events.Error = out->events.Error = [&](std::int16_t, const QString& text) {
        if (!jack->xrunExplains(text)) errors.push_back(text.toStdString());
    };
    ByteString got;
    in->events.Message = [&] {
        for (; !in->MessageData().empty() && in->MessageCount() > 0; in->setCommand(MIDIInput::DiscardOldest))
            got += in->MessageData();
    };
    // As MakeMIDIClientsAhead does on its own thread, here done when it returns.
    static_cast<RtMidiInput&>(*in).client().makeAhead(QThread::currentThread());
    static_cast<RtMidiOutput&>(*out).client().makeAhead(QThread::currentThread());
    jack->kill();
    QThread::msleep(500);
    jack.reset();
    jack.emplace();
    ASSERT_TRUE(jack->ok()) << jack->error().toStdString();
    auto sim = transmitter("gt3new", "fast");

    in->setDeviceID(0);
    in->setCommand(MIDIInput::Open);
    in->setCommand(MIDIInput::Start);
    out->setDeviceID(MIDIOutput::MidiMapper);
    out->setCommand(MIDIOutput::Open);
    EXPECT_EQ(in->State(), MIDIInput::Delivering);
    EXPECT_EQ(out->State(), MIDIOutput::Opened);
    EXPECT_TRUE(runEventsUntil([&] { return got.size() >= dump.size(); }, 30s)) << got.size() << " bytes";
    EXPECT_TRUE(got == dump) << got.size() << " bytes";
    runEventsFor(200ms);
    EXPECT_TRUE(errors.empty()) << errors.front();
    finishGt3sim(*sim, 10s);
}

// The two ports share one report of the server's end. An output that has had its say
// about the send under way, and so keeps quiet about that send, must not use the
// report up without telling it: the input would then take the end for told already.
TEST_F(MidiFault, TheServersEndIsToldOnceWhateverTheOutputSaidBefore)
{
    enum class Before { Idle, MidSend, ReopenedMidSend };
    struct Case {
        const char* name;
        Before before;
    };
    const std::vector<Case> cases = {
        {"an idle output", Before::Idle},
        {"a send under way", Before::MidSend},
        {"a send cut short by a reopen", Before::ReopenedMidSend},
    };
    qputenv("TANDREL_MIDI_PACING", "din");  // a send that lasts well past the stop
    int round = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString name = QString("end%1").arg(round++);
        auto rx = startGt3sim({"receive", dir.filePath(name + ".syx"), "--name", name, "--timeout-ms", "60000"});
        ASSERT_TRUE(jack->waitForPort(name + ":in", 30s));
        auto peer = startGt3sim({"transmit", dumpPath, "--name", "gt3" + name, "--wait-ms", "60000", "--delay-ms", "120000"});
        ASSERT_TRUE(jack->waitForPort("gt3" + name + ":out", 30s));
        auto in = CreateMIDIInput();
        auto out = CreateMIDIOutput();
        std::vector<std::int16_t> codes;
        in->events.Error = out->events.Error = [&](std::int16_t code, const QString& text) {
            if (!jack->xrunExplains(text)) codes.push_back(code);
        };
        // The output first, so that it hears of the stop first and has the first turn to tell it.
        out->setDeviceID(0);
        out->setCommand(MIDIOutput::Open);
        in->setDeviceID(0);
        in->setCommand(MIDIInput::Open);
        in->setCommand(MIDIInput::Start);
        ASSERT_TRUE(in->State() == MIDIInput::Delivering && out->State() == MIDIOutput::Opened);
        if (c.before == Before::Idle) {
            jack->kill();
        } else {
            QTimer::singleShot(300ms, [&] {
                if (c.before == Before::ReopenedMidSend) out->setCommand(MIDIOutput::Open);
                jack->kill();
            });
            out->setMessageStatus(240);
            out->setMessageData(dump);
            out->setCommand(MIDIOutput::Transmit);
        }
        runEventsFor(1500ms);
        EXPECT_EQ(std::count(codes.begin(), codes.end(), code(MidiError::ServerStopped)), 1);
        EXPECT_EQ(in->State(), MIDIInput::Closed);
        EXPECT_EQ(out->State(), MIDIOutput::Closed);
        in.reset();
        out.reset();
        jack.reset();
        jack.emplace();
        ASSERT_TRUE(jack->ok()) << jack->error().toStdString();
    }
    qputenv("TANDREL_MIDI_PACING", "fast");
}

TEST_F(MidiFault, LossMidSendEndsTheSendAndOnlyTheServerIsTold)
{
    const QString one = dir.filePath("one.syx");
    QFile f(one);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(QByteArray::fromHex("F0411000 1B12 0000000000 F7")) == 12);
    f.close();
    for (const bool serverDies : {false, true}) {
        SCOPED_TRACE(serverDies ? "JACK server killed" : "gt3sim killed");
        // Both ports open, as in use: the output on gt3sim recording, the input on a peer that sent one message.
        const QString recorded = dir.filePath(serverDies ? "server.syx" : "peer.syx");
        auto sim = startGt3sim({"receive", recorded, "--name", serverDies ? "rx1" : "rx2", "--expect-bytes", "125000",
                                "--idle-ms", "5000", "--timeout-ms", "120000"});
        ASSERT_TRUE(jack->waitForPort(serverDies ? "rx1:in" : "rx2:in", 30s));
        App app(" 0");
        auto peer = startReceiving(app, "fast", one);
        EXPECT_TRUE(finishGt3sim(*peer, 30s));
        ASSERT_TRUE(runEventsUntil([&] { return app.w->bDumpUnsaved; }, 10s));
        app.fake.boxes.answers.push_back(MessageBoxes::vbNo);
        app.fake.dialog.willChoose(dumpPath);
        app.w->cmdOpen_Click();
        ASSERT_EQ(app.MAIN.sSysexData, dump);
        runEventsFor(200ms);
        std::erase_if(app.fake.boxes.boxes, [&](const auto& box) { return jack->xrunExplains(box.prompt); });
        ASSERT_EQ(app.fake.boxes.boxes.size(), 1u) << "only the save-first prompt: " << app.boxes();
        app.fake.boxes.boxes.clear();

        int yields = 0;
        app.fake.loop.onDoEvents = [&] {
            if (++yields != 40) return;
            if (serverDies) return jack->kill();
            sim->kill();
            sim->waitForFinished(5000);
        };
        std::optional<StallWatch> stalls;
        if (!serverDies) stalls.emplace();
        app.w->cmdSend_Click();
        runEventsFor(1500ms);
        EXPECT_EQ(app.w->statusText(), "Sent sysex to GT-3--ready to Receive or Open");
        EXPECT_TRUE(app.MAIN.sSysexData.empty());
        EXPECT_EQ(app.fake.beeper.beeps, 1);
        EXPECT_FALSE(app.w->sending());
        if (serverDies) {
            EXPECT_EQ(app.fake.boxes.boxes.size(), 1u) << app.boxes();
            EXPECT_NE(app.boxes().find("JACK"), std::string::npos) << app.boxes();
            finishGt3sim(*sim, 15s);
            EXPECT_TRUE(wholeMessagesOf(readBytes(recorded).toStdString(), dump)) << "what reached gt3sim is whole";
        } else {
            // A starved machine may stall the server long enough for the port to say so; nothing else may be said.
            const long long stalledMs = stalls->longestMs;
            for (const auto& box : app.fake.boxes.boxes)
                EXPECT_TRUE(stalledMs >= 9000 && box.prompt.contains("stopped answering")) << stalledMs << " ms: " << app.boxes();
        }
    }
}

// jack_client_close cancels the client's threads asynchronously (pthread_cancel, cancel type
// asynchronous), wherever they are. A monitor closed while libjack runs one of its handlers
// must let the handler finish: cut short inside Qt's posting (a heap allocation, a mutex), it
// leaves the heap or the event queue broken and a crash for later.
TEST_F(MidiFault, AMonitorClosedWhileItsHandlerRunsLetsTheHandlerFinish)
{
    enum class Event { ServerEnds, Xrun };
    struct Case {
        const char* name;
        Event event;
    };
    const std::vector<Case> cases = {
        {"an xrun", Event::Xrun},
        {"the server's end", Event::ServerEnds},  // last: the server stays down
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // A thread never started, so its dispatcher sees every post to the monitor; it
        // deletes its dispatcher only when it finishes running, so this one is ours.
        const auto dispatcher = std::make_unique<StallingDispatcher>();
        QThread idle;
        idle.setEventDispatcher(dispatcher.get());
        std::unique_ptr<JackMonitor> monitor = JackMonitor::connect(nullptr);
        ASSERT_NE(monitor, nullptr);
        monitor->moveToThread(&idle);
        // A peer that stops answering makes the server miss cycles.
        auto peer = c.event == Event::Xrun ? transmitter("stalled", "din") : nullptr;
        dispatcher->armed = true;
        c.event == Event::ServerEnds ? jack->kill() : void(::kill(static_cast<pid_t>(peer->processId()), SIGSTOP));
        ASSERT_TRUE(runEventsUntil([&] { return dispatcher->entered.load(); }, 10s)) << "the handler never posted";
        monitor.reset();  // while the handler is still inside its post
        EXPECT_TRUE(dispatcher->finished) << "libjack cancelled the handler half way";
        if (peer) peer->kill();
    }
}

// A crash in these tests, rare as it may be, must leave its place in the log: the crashing
// function is named on stderr, and the program still dies of its signal (no core here).
TEST(MidiFaultDeathTest, ACrashNamesTheCrashingFunction)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");  // the child runs main() again, handler and all
    struct Case {
        const char* name;
        void (*crash)();
        int signal;
    };
    const std::vector<Case> cases = {
        {"crashProbeSegv", crashProbeSegv, SIGSEGV},
        {"crashProbeBus", crashProbeBus, SIGBUS},
        {"crashProbeAbort", crashProbeAbort, SIGABRT},
    };
    const auto crashWithoutCore = [](void (*crash)()) {
        const rlimit none{0, 0};
        ::setrlimit(RLIMIT_CORE, &none);
        crash();
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // AddressSanitizer reports faults itself, names the function too, and exits with 1.
        const bool sanitizer = kSanitizerReportsFaults && c.signal != SIGABRT;
        const auto died = [&](int status) {
            return sanitizer ? WIFEXITED(status) && WEXITSTATUS(status) == 1
                             : WIFSIGNALED(status) && WTERMSIG(status) == c.signal;
        };
        const std::string frames = std::string(sanitizer ? "AddressSanitizer" : "Crashed") + ".*" + c.name;
        EXPECT_EXIT(crashWithoutCore(c.crash), died, frames);
    }
}

}  // namespace
