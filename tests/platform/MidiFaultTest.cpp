// SPDX-License-Identifier: GPL-3.0-or-later
// Faults injected into real transfers: the real main window on the production
// MIDI ports, a private JACK server as the transport and gt3sim as the GT-3.
// The server is killed in the middle of a receive and of a send, gt3sim vanishes
// in the middle of both, and the server comes back. The program stays up, keeps
// every whole message it had, says what happened once, never hangs, and works
// again without a restart.
#include "app/frmMain.h"
#include "platform/JackMonitor.h"
#include "platform/MidiPorts.h"
#include "platform/testing/FakeServices.h"
#include "setup/MIDISetupForm.h"
#include "setup/SettingsKeys.h"
#include "support/JackServer.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

using namespace tandrel;
using namespace tandrel::testing;
using namespace std::chrono_literals;

namespace {

constexpr std::size_t kDumpBytes = 125000;

//! Ends the program when a test outlives `limit`: a hang fails at once.
class HangGuard {
public:
    explicit HangGuard(std::chrono::seconds limit)
        : thread_([this, limit] {
              std::unique_lock lock(mutex_);
              if (!ended_.wait_for(lock, limit, [this] { return done_; })) {
                  std::fprintf(stderr, "HANG: the test did not finish within %lld s\n",
                               static_cast<long long>(limit.count()));
                  std::_Exit(3);
              }
          })
    {
    }
    ~HangGuard()
    {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        ended_.notify_all();
        thread_.join();
    }
    HangGuard(const HangGuard&) = delete;
    HangGuard& operator=(const HangGuard&) = delete;

private:
    std::mutex mutex_;
    std::condition_variable ended_;
    bool done_ = false;
    std::thread thread_;
};

//! The longest time the JACK server ran no cycle while watched. A peer killed
//! mid-transfer stalls the server for about five seconds, which the output port
//! must ride out; only a much longer stall, which a starved machine can cause by
//! itself, lets the port take the server for gone.
class StallWatch {
public:
    StallWatch()
        : monitor_(JackMonitor::connect(nullptr)), thread_([this] {
              auto last = std::chrono::steady_clock::now();
              std::uint64_t cycles = 0;
              while (!done_) {
                  std::this_thread::sleep_for(5ms);
                  const auto now = std::chrono::steady_clock::now();
                  const std::uint64_t c = monitor_ ? monitor_->cycles() : 0;
                  if (c != cycles) {
                      cycles = c;
                      last = now;
                  }
                  const auto gap = std::chrono::duration_cast<std::chrono::milliseconds>(now - last).count();
                  longest_ = std::max<long long>(longest_, gap);
              }
          })
    {
    }
    ~StallWatch()
    {
        done_ = true;
        thread_.join();
    }
    StallWatch(const StallWatch&) = delete;
    StallWatch& operator=(const StallWatch&) = delete;

    std::chrono::milliseconds longest() const { return std::chrono::milliseconds(longest_.load()); }

private:
    std::unique_ptr<JackMonitor> monitor_;
    std::atomic<bool> done_{false};
    std::atomic<long long> longest_{0};
    std::thread thread_;
};

//! Runs the window's events until `done` or `limit`.
bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    QDeadlineTimer deadline(limit);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        QThread::msleep(2);
    }
    return true;
}

void settle(std::chrono::milliseconds time)
{
    waitFor([] { return false; }, time);
}

ByteString fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : ByteString();
}

//! Empty when `part` is the dump's first whole messages (a prefix that ends on an
//! F7); otherwise where it goes wrong.
std::string notWholeMessagesFrom(const ByteString& part, const ByteString& dump)
{
    const std::size_t n = std::min(part.size(), dump.size());
    std::size_t at = 0;
    while (at < n && part[at] == dump[at])
        ++at;
    if (at < part.size()) {
        std::string hex;
        for (std::size_t i = at > 8 ? at - 8 : 0; i < std::min(part.size(), at + 8); ++i) {
            char b[8];
            std::snprintf(b, sizeof b, "%02X/%02X ", static_cast<unsigned char>(part[i]),
                          i < dump.size() ? static_cast<unsigned char>(dump[i]) : 0u);
            hex += b;
        }
        return "differs from the dump at byte " + std::to_string(at) + " of " + std::to_string(part.size())
            + " (kept/dump: " + hex + ")";
    }
    if (!part.empty() && part.back() != '\xF7')
        return "ends inside a message (" + std::to_string(part.size()) + " bytes)";
    return {};
}

//! The real window on the production ports, the rest doubled; the Qt event loop
//! runs during every yield, as in the program.
struct App {
    //! `output`: the stored output device, " 0" (the first listed) or "-1" (Tandrel's own port).
    explicit App(const QString& output)
    {
        fake.settings.values = {{settings::kUserSetup, QStringLiteral("1")},
                                {settings::kMIDIInputDeviceID, QStringLiteral(" 0")},
                                {settings::kMIDIOutputDeviceID, output}};
        fake.loop.processQtEvents = true;
    }
    ~App()
    {
        w->close();
        w.reset();
    }
    App(const App&) = delete;
    App& operator=(const App&) = delete;

    //! Shows Setup; `whileShown` must leave it by Set or Cancel.
    void setup(const std::function<void(MIDISetupForm&)>& whileShown)
    {
        QTimer::singleShot(0, [this, whileShown] {
            ASSERT_NE(w->setupForm(), nullptr);
            whileShown(*w->setupForm());
        });
        w->cmdSetup_Click();
    }
    //! The boxes shown, one line each.
    std::string boxes() const
    {
        std::string all;
        for (const auto& b : fake.boxes.boxes)
            all += b.prompt.toStdString() + "\n";
        return all;
    }

    FakeServices fake;
    std::unique_ptr<MIDIInput> in = CreateMIDIInput();
    std::unique_ptr<MIDIOutput> out = CreateMIDIOutput();
    Services services{*in, *out, fake.dialog, fake.boxes, fake.settings, fake.folders, fake.beeper, fake.loop};
    DumpState MAIN;
    std::unique_ptr<frmMain> w = std::make_unique<frmMain>(services, MAIN);
};

QStringList listed(const QComboBox& list)
{
    QStringList items;
    for (int i = 0; i < list.count(); ++i)
        items << list.itemText(i);
    return items;
}

class MidiFault : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!JackServer::installed())
            GTEST_SKIP() << "jackd2 tools (jackd, jack_lsp, jack_connect) are not installed";
        ASSERT_FALSE(gt3simPath().isEmpty()) << "gt3sim is not built";
        // The app sends as fast as the transport takes it; gt3sim plays a real cable.
        qputenv("TANDREL_MIDI_PACING", "fast");
        dumpPath = dir.filePath(QStringLiteral("gt3.syx"));
        auto gen = startGt3sim({QStringLiteral("generate"), dumpPath, QStringLiteral("--size"),
                                QString::number(kDumpBytes)});
        ASSERT_TRUE(finishGt3sim(*gen, 30s) && gen->exitCode() == 0);
        dump = fileBytes(dumpPath);
        ASSERT_EQ(dump.size(), kDumpBytes);
        // One short message: a peer to list and connect to, whose data does not matter.
        shortPath = dir.filePath(QStringLiteral("short.syx"));
        QFile shortFile(shortPath);
        ASSERT_TRUE(shortFile.open(QIODevice::WriteOnly));
        shortFile.write(QByteArray::fromHex("F0 41 10 00 1B 12 00 00 00 00 00 F7"));
        jack.emplace();
        ASSERT_TRUE(jack->ok()) << jack->error().toStdString();
    }
    void TearDown() override { qunsetenv("TANDREL_MIDI_PACING"); }

    //! gt3sim transmitting the dump, as the GT-3 would, to whoever connects.
    std::unique_ptr<QProcess> transmitter(const QString& name, const char* pacing, bool shortOne = false)
    {
        auto sim = startGt3sim({QStringLiteral("transmit"), shortOne ? shortPath : dumpPath, QStringLiteral("--pacing"),
                                QString::fromLatin1(pacing), QStringLiteral("--name"), name,
                                QStringLiteral("--wait-ms"), QStringLiteral("60000")});
        EXPECT_TRUE(jack->waitForPort(name + QStringLiteral(":out"), 30s));
        return sim;
    }
    //! gt3sim recording what it is sent into `file`.
    std::unique_ptr<QProcess> receiver(const QString& name, const QString& file)
    {
        auto sim = startGt3sim({QStringLiteral("receive"), file, QStringLiteral("--name"), name,
                                QStringLiteral("--expect-bytes"), QString::number(kDumpBytes),
                                QStringLiteral("--idle-ms"), QStringLiteral("5000"), QStringLiteral("--timeout-ms"),
                                QStringLiteral("120000")});
        EXPECT_TRUE(jack->waitForPort(name + QStringLiteral(":in"), 30s));
        return sim;
    }

    //! The app started with no device there yet (the input's open fails and says
    //! so), then `sender` started and Receive clicked: the input connects and
    //! starts at once, before the sender's first message.
    void startReceiving(App& app, std::unique_ptr<QProcess>& sender, const QString& name, const char* pacing,
                        bool shortOne = false)
    {
        app.w->Form_Load();
        settle(200ms);
        sender = transmitter(name, pacing, shortOne);
        if (app.w->bDumpUnsaved)
            app.fake.boxes.answers.push_back(MessageBoxes::vbNo);
        app.w->cmdReceive_Click();
        app.fake.boxes.boxes.clear();
    }

    HangGuard guard{240s};
    QTemporaryDir dir;
    QString dumpPath, shortPath;
    ByteString dump;
    std::optional<JackServer> jack;
};

TEST_F(MidiFault, ServerKilledMidReceiveKeepsEveryWholeMessageAndComesBack)
{
    App app(QStringLiteral("-1"));
    std::unique_ptr<QProcess> sim;
    startReceiving(app, sim, QStringLiteral("gt3"), "din");
    ASSERT_TRUE(waitFor([&] { return app.MAIN.sSysexData.size() >= 3000; }, 30s)) << app.boxes();
    jack->kill();
    ASSERT_TRUE(waitFor([&] { return !app.fake.boxes.boxes.empty(); }, 10s)) << "the loss is reported";
    settle(1500ms);

    const ByteString kept = app.MAIN.sSysexData;
    std::printf("[ fault    ] server killed mid-receive; kept %zu of %zu bytes\n", kept.size(), dump.size());
    EXPECT_EQ(app.fake.boxes.boxes.size(), 1u) << app.boxes();
    EXPECT_NE(app.boxes().find("JACK"), std::string::npos) << app.boxes();
    EXPECT_EQ(notWholeMessagesFrom(kept, dump), "");
    EXPECT_LT(kept.size(), dump.size());
    EXPECT_EQ(app.MAIN.lByteCount, static_cast<std::int32_t>(kept.size()));
    EXPECT_TRUE(app.w->bDumpUnsaved);
    EXPECT_FALSE(app.w->unloaded());
    finishGt3sim(*sim, 10s);

    // What was kept saves byte for byte.
    const QString saved = dir.filePath(QStringLiteral("kept.syx"));
    app.fake.dialog.willChoose(saved);
    app.w->cmdSave_Click();
    EXPECT_EQ(fileBytes(saved), kept);

    // The server comes back: Setup lists the devices again, and a new Receive works.
    // The dialog opens the input without starting it, so what the listed sender
    // plays meanwhile is dropped; it plays at a cable's pace and stays listed.
    app.fake.boxes.boxes.clear();
    jack.reset();
    jack.emplace();
    ASSERT_TRUE(jack->ok()) << jack->error().toStdString();
    auto listedPeer = transmitter(QStringLiteral("gt3back"), "din");
    QStringList cancelled, chosen;
    app.setup([&](MIDISetupForm& form) {
        cancelled = listed(*form.cmbMIDIInDevice);
        form.CmdCancel_Click();
    });
    app.setup([&](MIDISetupForm& form) {
        chosen = listed(*form.cmbMIDIInDevice);
        form.cmdSet_Click();
    });
    EXPECT_EQ(cancelled, QStringList{QStringLiteral("gt3back:out")});
    EXPECT_EQ(chosen, QStringList{QStringLiteral("gt3back:out")});
    listedPeer->kill();
    listedPeer->waitForFinished(5000);
    settle(300ms);
    EXPECT_TRUE(app.fake.boxes.boxes.empty()) << app.boxes();

    // The first input device is now the new sender.
    auto again = transmitter(QStringLiteral("gt3again"), "fast");
    app.w->cmdReceive_Click();
    ASSERT_TRUE(waitFor([&] { return app.MAIN.sSysexData.size() >= dump.size(); }, 60s))
        << app.MAIN.sSysexData.size() << " bytes; " << app.boxes();
    EXPECT_TRUE(finishGt3sim(*again, 30s));
    settle(300ms);
    EXPECT_EQ(app.MAIN.sSysexData, dump) << "every byte arrives after the server came back";
    EXPECT_TRUE(app.fake.boxes.boxes.empty()) << app.boxes();
}

TEST_F(MidiFault, ServerKilledWithMessagesWaitingHandsEveryOneOver)
{
    // The whole dump arrives while the window's events wait; then the server dies.
    // The message event and the news of the stop are both pending, and the event's
    // own yield runs the stop: not one waiting byte may be lost.
    App app(QStringLiteral("-1"));
    std::unique_ptr<QProcess> sim;
    startReceiving(app, sim, QStringLiteral("gt3"), "fast");
    // Every yield hands out the events posted so far, as Qt's own event
    // dispatcher does inside a posted event (GLib's defers them to later).
    app.fake.loop.onDoEvents = [] { QCoreApplication::sendPostedEvents(); };
    ASSERT_TRUE(finishGt3sim(*sim, 30s));
    jack->kill();
    QThread::msleep(1500);  // the port and the monitor hear of it; the window has yet to
    ASSERT_TRUE(waitFor([&] { return app.MAIN.sSysexData.size() >= dump.size(); }, 10s))
        << "lost " << dump.size() - app.MAIN.sSysexData.size() << " bytes; " << app.boxes();
    settle(500ms);
    std::printf("[ fault    ] server killed with the dump waiting; kept %zu of %zu bytes\n",
                app.MAIN.sSysexData.size(), dump.size());
    EXPECT_EQ(app.MAIN.sSysexData, dump);
    EXPECT_EQ(app.fake.boxes.boxes.size(), 1u) << app.boxes();
}

TEST_F(MidiFault, ServerKilledMidSendEndsTheSendAndSaysSoOnce)
{
    // Both ports open, as in use: the output on gt3sim recording, the input on a
    // peer that sends one short message.
    const QString recorded = dir.filePath(QStringLiteral("recorded.syx"));
    auto sim = receiver(QStringLiteral("gt3"), recorded);
    App app(QStringLiteral(" 0"));
    std::unique_ptr<QProcess> peer;
    startReceiving(app, peer, QStringLiteral("gt3in"), "fast", true);
    EXPECT_TRUE(finishGt3sim(*peer, 30s));
    ASSERT_TRUE(waitFor([&] { return app.w->bDumpUnsaved; }, 10s));
    app.fake.boxes.answers.push_back(MessageBoxes::vbNo);
    app.fake.dialog.willChoose(dumpPath);
    app.w->cmdOpen_Click();
    ASSERT_EQ(app.MAIN.sSysexData, dump);
    settle(200ms);
    ASSERT_EQ(app.fake.boxes.boxes.size(), 1u) << "only the save-first prompt: " << app.boxes();
    app.fake.boxes.boxes.clear();

    int yields = 0;
    app.fake.loop.onDoEvents = [&] {
        if (++yields == 40)
            jack->kill();
    };
    QElapsedTimer sending;
    sending.start();
    app.w->cmdSend_Click();
    const qint64 ms = sending.elapsed();
    settle(1500ms);

    std::printf("[ fault    ] server killed after 40 of the send's messages; the send ended after %lld ms\n",
                static_cast<long long>(ms));
    EXPECT_EQ(app.w->statusText(), QStringLiteral("Sent sysex to GT-3--ready to Receive or Open"));
    EXPECT_TRUE(app.MAIN.sSysexData.empty());
    EXPECT_EQ(app.fake.beeper.beeps, 1);
    EXPECT_FALSE(app.w->sending());
    EXPECT_EQ(app.fake.boxes.boxes.size(), 1u) << app.boxes();
    EXPECT_NE(app.boxes().find("JACK"), std::string::npos) << app.boxes();
    finishGt3sim(*sim, 15s);
    EXPECT_EQ(notWholeMessagesFrom(fileBytes(recorded), dump), "") << "what reached gt3sim is whole and in order";
}

TEST_F(MidiFault, Gt3simVanishingMidTransferLeavesTheProgramReady)
{
    // Mid-receive: the sender's port disappears; what came is kept, and a clean
    // Receive from a new sender gets every byte.
    {
        App app(QStringLiteral("-1"));
        std::unique_ptr<QProcess> sim;
        startReceiving(app, sim, QStringLiteral("gt3"), "din");
        ASSERT_TRUE(waitFor([&] { return app.MAIN.sSysexData.size() >= 3000; }, 30s)) << app.boxes();
        sim->kill();
        sim->waitForFinished(5000);
        settle(1000ms);
        const ByteString kept = app.MAIN.sSysexData;
        std::printf("[ fault    ] gt3sim killed mid-receive; kept %zu bytes\n", kept.size());
        EXPECT_EQ(notWholeMessagesFrom(kept, dump), "");
        EXPECT_TRUE(app.fake.boxes.boxes.empty()) << app.boxes();

        auto next = transmitter(QStringLiteral("gt3next"), "fast");
        app.fake.boxes.answers.push_back(MessageBoxes::vbNo);  // discard the partial dump
        app.w->cmdReceive_Click();
        ASSERT_TRUE(waitFor([&] { return app.MAIN.sSysexData.size() >= dump.size(); }, 60s))
            << app.MAIN.sSysexData.size() << " bytes; " << app.boxes();
        EXPECT_TRUE(finishGt3sim(*next, 30s));
        settle(300ms);
        EXPECT_EQ(app.MAIN.sSysexData, dump);
        EXPECT_EQ(app.fake.boxes.boxes.size(), 1u) << "only the save-first prompt: " << app.boxes();
    }
    // Mid-send: the receiver's port disappears; the send runs to its end.
    {
        auto sim = receiver(QStringLiteral("gt3r"), dir.filePath(QStringLiteral("recorded.syx")));
        App app(QStringLiteral(" 0"));
        app.w->Form_Load();
        app.fake.dialog.willChoose(dumpPath);
        app.w->cmdOpen_Click();
        settle(200ms);
        app.fake.boxes.boxes.clear();  // the input has no device here; that was said at start-up
        int yields = 0;
        app.fake.loop.onDoEvents = [&] {
            if (++yields == 40) {
                sim->kill();
                sim->waitForFinished(5000);
            }
        };
        std::optional<StallWatch> stalls(std::in_place);
        app.w->cmdSend_Click();
        settle(500ms);
        const auto stalled = stalls->longest();
        stalls.reset();
        std::printf("[ fault    ] gt3sim killed mid-send after 40 messages; the server stalled %lld ms\n",
                    static_cast<long long>(stalled.count()));
        EXPECT_EQ(app.w->statusText(), QStringLiteral("Sent sysex to GT-3--ready to Receive or Open"));
        EXPECT_EQ(app.fake.beeper.beeps, 1);
        if (stalled < 9s) {
            EXPECT_TRUE(app.fake.boxes.boxes.empty()) << app.boxes();
        } else {
            // The machine starved the server; the port may say so, and nothing else.
            for (const auto& box : app.fake.boxes.boxes)
                EXPECT_TRUE(box.prompt.contains(QLatin1String("stopped answering"))) << app.boxes();
        }
    }
}

}  // namespace
