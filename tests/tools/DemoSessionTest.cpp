// SPDX-License-Identifier: GPL-3.0-or-later
// Runs the demo as a person would, on a private X server and JACK server, and takes the
// screenshot of both programs mid-transfer on the way.
#include "platform/QtServices.h"
#include "setup/SettingsKeys.h"
#include "support/JackServer.h"
#include "support/PrivateDisplay.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>
#include <QPoint>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <sys/prctl.h>
#include <csignal>
#include <unistd.h>

#include <functional>

#include <gtest/gtest.h>

using namespace tandrel;
using namespace tandrel::testing;

namespace {

constexpr int DumpBytes = 12000;  // a few seconds at DIN pace each way
const QString Build = qEnvironmentVariable("TANDREL_BUILD_DIR");

// Where Tandrel's buttons sit in its window.
const QPoint Receive(98, 118), Save(184, 118), Open(267, 118), Send(352, 118), Quit(302, 191);

class DemoSession : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (const QString tool = missingTool({"Xvfb", "xdotool", "import"}); !tool.isEmpty())
            GTEST_SKIP() << tool.toStdString() << " is not installed (packages xvfb, xdotool, imagemagick)";
        if (!JackServer::installed()) GTEST_SKIP() << "jackd is not installed (package jackd2)";
        const QString why = display_.start({852, 270}, true);
        ASSERT_TRUE(why.isEmpty()) << why.toStdString();
    }

    void TearDown() override
    {
        if (demo_.state() != QProcess::NotRunning) ::kill(-static_cast<pid_t>(demo_.processId()), SIGKILL);
        PrivateDisplay::stop(demo_);
    }

    QString xdotool(const QStringList& args) { return display_.xdotool(args); }

    // Polls `done` while collecting the demo's output; false when `limitMs` passes first.
    bool waitFor(const std::function<bool()>& done, int limitMs)
    {
        QElapsedTimer clock;
        for (clock.start();; demo_.waitForReadyRead(100)) {
            output_ += QString::fromLocal8Bit(demo_.readAllStandardOutput());
            if (done()) return true;
            if (clock.elapsed() > limitMs) return false;
        }
    }
    bool said(const QString& prefix) const { return output_.contains(u'\n' + prefix) || output_.startsWith(prefix); }

    QString window(const QString& name, int limitMs = 30000)
    {
        QString id;
        waitFor([&] {
            id = xdotool({"search", "--onlyvisible", "--name", name}).section(u'\n', 0, 0);
            return !id.isEmpty();
        }, limitMs);
        return id;
    }
    void click(const QString& id, QPoint at)
    {
        xdotool({"mousemove", "--window", id, QString::number(at.x()), QString::number(at.y()), "click", "1"});
    }
    void keys(const QString& id, const QString& chord) { xdotool({"windowfocus", "--sync", id, "key", chord}); }

    // Clicks `button` of Tandrel's window and names the file in the dialog it opens.
    // A click that a busy machine lost is made once more.
    bool chooseFile(const QString& tandrel, QPoint button, const QString& title, const QString& path)
    {
        QString dialog;
        for (int limitMs : {10000, 30000})
            if (dialog.isEmpty()) click(tandrel, button), dialog = window('^' + title + '$', limitMs);
        if (dialog.isEmpty()) {
            QStringList showing;
            for (const QString& id : xdotool({"search", "--onlyvisible", "--name", "."}).split(u'\n', Qt::SkipEmptyParts))
                showing << xdotool({"getwindowname", id}).trimmed();
            ADD_FAILURE() << "no \"" << title.toStdString() << "\" dialog; showing: " << showing.join(" | ").toStdString();
            return false;
        }
        xdotool({"windowfocus", "--sync", dialog, "key", "ctrl+a", "type", "--delay", "10", path});
        return waitFor([&] {
            xdotool({"windowfocus", "--sync", dialog, "key", "Return"});
            QThread::msleep(300);
            return xdotool({"search", "--onlyvisible", "--name", '^' + title + '$'}).trimmed().isEmpty();
        }, 10000);
    }

    // Starts the demo in a process group of its own, so that everything it starts
    // can be found, and ended should the test die first.
    pid_t startDemo(const QProcessEnvironment& env, int size)
    {
        env_ = env;
        env_.insert("DISPLAY", display_.name());
        env_.insert("QT_QPA_PLATFORM", "xcb");
        env_.insert("XDG_RUNTIME_DIR", runtime_.path());
        env_.remove("WAYLAND_DISPLAY");
        demo_.setProcessEnvironment(env_);
        demo_.setChildProcessModifier([] {
            ::setpgid(0, 0);
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        });
        demo_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        demo_.start("sh", {qEnvironmentVariable("TANDREL_SOURCE_DIR") + "/scripts/demo.sh", Build, "--size",
                           QString::number(size)});
        return demo_.waitForStarted(10000) ? static_cast<pid_t>(demo_.processId()) : 0;
    }

    PrivateDisplay display_;
    QTemporaryDir runtime_;
    QProcess demo_;
    QString output_;
    QProcessEnvironment env_;
};

//! The command lines of what is left of a process group once it has had 3 s to end.
QStringList processesLeftOf(pid_t group)
{
    QStringList found;
    QElapsedTimer clock;
    for (clock.start(); clock.elapsed() < 3000; QThread::msleep(50)) {
        found.clear();
        for (const QString& pid : QDir("/proc").entryList(QDir::Dirs)) {
            const QByteArray stat = readBytes("/proc/" + pid + "/stat");
            const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');  // state, ppid, pgrp, …
            // A zombie has ended already; its parent has not yet collected it.
            if (fields.size() > 2 && fields[2].toLongLong() == group && fields[0] != "Z")
                found << pid + ": " + QString::fromLocal8Bit(readBytes("/proc/" + pid + "/cmdline").replace('\0', ' '));
        }
        if (found.isEmpty()) break;
    }
    return found;
}

TEST_F(DemoSession, RoundTripThroughTheSimulatedGt3EndsCleanly)
{
    JackServer jack;
    ASSERT_TRUE(jack.ok()) << jack.error().toStdString();
    // The user's own stored devices, which the demo must leave alone.
    const QString stored = qEnvironmentVariable("XDG_CONFIG_HOME") + "/Tandrel/Tandrel.conf";
    QFile::remove(stored);
    {
        QSettingsStore user(stored);
        user.write(settings::kUserSetup, "1");
        user.write(settings::kMIDIInputDeviceID, " 3");
        user.write(settings::kMIDIOutputDeviceID, "-1");
    }
    const QByteArray before = readBytes(stored);
    ASSERT_FALSE(before.isEmpty());

    QTemporaryDir work;
    const QString expected = work.filePath("expected.syx"), saved = work.filePath("round trip.syx");
    ASSERT_FALSE(generateDump(expected, DumpBytes).isEmpty());

    const pid_t group = startDemo(QProcessEnvironment::systemEnvironment(), DumpBytes);  // on the JACK server above
    ASSERT_NE(group, 0);
    ASSERT_TRUE(waitFor([&] { return said("tandrel-gt3sim: ready"); }, 30000)) << output_.toStdString();
    const QString panel = window("^GT-3 \\(simulated\\)$"), tandrel = window("^GT-3 Fenmarch$");
    ASSERT_FALSE(panel.isEmpty() || tandrel.isEmpty()) << "the windows never showed";
    xdotool({"windowmove", panel, "14", "60"});
    xdotool({"windowmove", tandrel, "388", "16"});

    // Bulk Dump into Receive; the screenshot is taken while the bytes flow.
    click(tandrel, Receive);
    keys(panel, "alt+d");
    QThread::msleep(1800);
    const QString shots = Build + "/tests/tools/screenshots";
    QDir().mkpath(shots);
    display_.run("import", {"-window", "root", shots + "/demo.png"});
    waitFor([] { return true; }, 0);  // reads what the demo said so far
    EXPECT_FALSE(said("tandrel-gt3sim: dump")) << "the screenshot came after the dump";
    EXPECT_EQ(QImage(shots + "/demo.png").size(), QSize(852, 270));
    ASSERT_TRUE(waitFor([&] { return said("tandrel-gt3sim: dump"); }, 60000)) << output_.toStdString();
    QThread::msleep(1000);  // the last message reaches Tandrel
    // A cycle the server reported late while the dump came in is told in a box, as it
    // may have cost MIDI data; with no xrun there must be none.
    if (const QString box = window("^Tandrel$", 500); !box.isEmpty()) {
        ASSERT_GT(jack.xruns(), 0) << "a box with no xrun behind it";
        keys(box, "Return");
    }

    ASSERT_TRUE(chooseFile(tandrel, Save, "Save GT-3 bulk dump", saved)) << "JACK xruns: " << jack.xruns();
    ASSERT_TRUE(waitFor([&] { return QFileInfo(saved).size() == DumpBytes; }, 10000));
    EXPECT_EQ(readBytes(saved), readBytes(expected)) << "the saved dump is not the simulated GT-3's memory";

    ASSERT_TRUE(chooseFile(tandrel, Open, "Open GT-3 bulk dump", saved)) << "JACK xruns: " << jack.xruns();
    keys(panel, "alt+l");
    ASSERT_TRUE(waitFor([&] { return said("tandrel-gt3sim: bulk load on"); }, 10000));
    click(tandrel, Send);
    ASSERT_TRUE(waitFor([&] { return said("tandrel-gt3sim: load"); }, 60000)) << output_.toStdString();

    auto dumped = gt3simSummary(output_, "tandrel-gt3sim: dump "), loaded = gt3simSummary(output_, "tandrel-gt3sim: load ");
    EXPECT_EQ(loaded["messages"], dumped["messages"]);
    EXPECT_EQ(loaded["bytes"], DumpBytes);
    EXPECT_EQ(loaded["fingerprint"], dumped["fingerprint"]) << "the memory that came back differs";
    for (const char* fault : {"checksum_errors", "framing_errors", "address_errors", "short_pauses"})
        EXPECT_EQ(loaded[fault], 0) << fault;
    EXPECT_EQ(loaded["ok"], 1);

    // Closing Tandrel ends the demo and all it started.
    click(tandrel, Quit);
    ASSERT_TRUE(demo_.waitForFinished(20000)) << "the demo went on after Tandrel closed";
    EXPECT_EQ(demo_.exitCode(), 0);
    EXPECT_EQ(processesLeftOf(group), QStringList());
    for (const QString& port : jack.ports())
        EXPECT_FALSE(port.contains("GT-3") || port.startsWith("Tandrel")) << port.toStdString() << " is still there";
    EXPECT_EQ(readBytes(stored), before) << "the demo changed the user's settings";
}

TEST_F(DemoSession, WithNoMidiSystemRunsItsOwnJackServerAndEndsIt)
{
    JackServer turn;  // the machine's JACK turn, without its server: no MIDI system at all
    ASSERT_TRUE(turn.ok()) << turn.error().toStdString();
    turn.kill();
    QProcessEnvironment bare = QProcessEnvironment::systemEnvironment();
    bare.insert("TANDREL_MIDI_API", "jack");  // even where an ALSA sequencer is
    bare.insert("JACK_DEFAULT_SERVER", "tandrel-demo");

    const struct { const char* name; std::function<void(const QString&)> end; } endings[] = {
        {"Quit in Tandrel", [this](const QString& tandrel) { click(tandrel, Quit); }},
        {"a signal to the demo", [this](const QString&) { ::kill(static_cast<pid_t>(demo_.processId()), SIGTERM); }},
    };
    for (const auto& e : endings) {
        output_.clear();
        const pid_t group = startDemo(bare, 2000);
        ASSERT_NE(group, 0) << e.name;
        ASSERT_TRUE(waitFor([&] { return said("tandrel-gt3sim: ready system=JACK"); }, 30000)) << output_.toStdString();
        EXPECT_TRUE(output_.contains("starting a private JACK server")) << output_.toStdString();
        const QString tandrel = window("^GT-3 Fenmarch$");
        ASSERT_FALSE(tandrel.isEmpty()) << e.name << ": Tandrel never showed";
        e.end(tandrel);
        ASSERT_TRUE(demo_.waitForFinished(20000)) << e.name << ": the demo went on";
        EXPECT_EQ(processesLeftOf(group), QStringList()) << e.name;
        EXPECT_EQ(QDir("/dev/shm").entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).filter("tandrel-demo"),
                  QStringList()) << e.name << ": the JACK server left its files";
    }
}

}  // namespace
