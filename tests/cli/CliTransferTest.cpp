// SPDX-License-Identifier: GPL-3.0-or-later
// tandrel-cli's receive and send through a private JACK server, with gt3sim as the
// GT-3: bytes, exit codes, Ctrl+C, and the same pacing as the window's Send.
#include "dump/DumpVerifier.h"
#include "dump/DumpWindow.h"
#include "platform/MidiPorts.h"
#include "platform/QtServices.h"
#include "setup/PortOpening.h"
#include "setup/SettingsKeys.h"
#include "support/JackServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <optional>

using namespace tandrel;
using namespace tandrel::testing;
using namespace std::chrono_literals;

namespace {

QString CliPath() { return qEnvironmentVariable("TANDREL_BUILD_DIR") + "/cli/tandrel-cli"; }

struct CliRun {
    int code = -1;
    QString out, err;
};

std::unique_ptr<QProcess> StartCli(const QStringList& args) { return startProgram(CliPath(), args); }

CliRun Finish(QProcess& cli, std::chrono::milliseconds limit = 60s)
{
    CliRun run;
    if (!cli.waitForFinished(static_cast<int>(limit.count()))) {
        cli.kill();
        cli.waitForFinished(3000);
    }
    if (cli.exitStatus() == QProcess::NormalExit) run.code = cli.exitCode();
    run.out = QString::fromLocal8Bit(cli.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(cli.readAllStandardError());
    return run;
}

CliRun RunCli(const QStringList& args) { return Finish(*StartCli(args)); }

//! Spoils the checksum of the message that ends at the `n`th F7.
void SpoilChecksum(const QString& path, int n)
{
    QByteArray dump = readBytes(path);
    qsizetype end = -1;
    for (int i = 0; i < n; ++i) end = dump.indexOf('\xF7', end + 1);
    dump[end - 1] = char(dump[end - 1] ^ 1);
    ASSERT_TRUE(writeBytes(path, dump));
}

//! A private JACK server, with gt3sim and tandrel-cli built.
class CliTransfer : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!JackServer::installed())
            GTEST_SKIP() << "jackd2 tools (jackd, jack_lsp, jack_connect) are not installed";
        ASSERT_TRUE(!gt3simPath().isEmpty() && QFileInfo(CliPath()).isExecutable())
            << "gt3sim or tandrel-cli is not built in TANDREL_BUILD_DIR";
        jack.emplace();
        ASSERT_TRUE(jack->ok()) << jack->error().toStdString();
    }

    std::optional<JackServer> jack;
};

TEST_F(CliTransfer, ReceiveSavesWhatArrivesAndJudgesIt)
{
    struct Row {
        const char* name;
        bool damaged;
        int code;
        const char* summaryEnd;
    };
    const Row table[] = {
        {"clean", false, 0, "every checksum valid\n"},
        {"damaged", true, 1, "1 bad checksum\n"},
    };
    for (const Row& row : table) {
        SCOPED_TRACE(row.name);
        QTemporaryDir dir;
        const QString sent = dir.filePath("sent.syx"), saved = dir.filePath("saved.syx");
        ASSERT_GT(generateDump(sent, 6000, 3).count('\xF7'), 2);
        if (row.damaged) SpoilChecksum(sent, 2);
        CliRun run;
        // A cycle the loaded server reported late spoils a run, and the CLI says so:
        // that run is made once more before it is judged.
        for (int attempt = 0; attempt < 2; ++attempt) {
            auto tx = startGt3sim({"transmit", sent, "--pacing", "fast", "--name", "gt3tx", "--wait-ms", "30000"});
            ASSERT_TRUE(jack->waitForPort("gt3tx:out"));
            run = RunCli({"receive", saved, "--from", "gt3tx", "--idle", "1", "--timeout", "20"});
            EXPECT_TRUE(finishGt3sim(*tx, 10s));
            if (!(run.code == 3 && jack->xrunExplains(run.err))) break;
        }
        EXPECT_EQ(run.code, row.code) << run.err.toStdString();
        EXPECT_EQ(readBytes(saved), readBytes(sent));
        EXPECT_TRUE(run.out.startsWith(saved + ": ")) << run.out.toStdString();
        EXPECT_TRUE(run.out.endsWith(QLatin1String(row.summaryEnd))) << run.out.toStdString();
    }
}

TEST_F(CliTransfer, FailuresEndWithTheirExitCodes)
{
    QTemporaryDir dir;
    const QString dump = dir.filePath("dump.syx"), damaged = dir.filePath("damaged.syx");
    ASSERT_FALSE(generateDump(dump, 3000, 5).isEmpty());
    QFile::copy(dump, damaged);
    SpoilChecksum(damaged, 1);
    auto rx = startGt3sim({"receive", dir.filePath("heard.syx"), "--name", "gt3rx", "--idle-ms", "60000", "--timeout-ms", "60000"});
    ASSERT_TRUE(jack->waitForPort("gt3rx:in"));
    // A GT-3 that is there but never transmits.
    auto silent = startGt3sim({"transmit", dump, "--name", "gt3quiet", "--delay-ms", "120000"});
    ASSERT_TRUE(jack->waitForPort("gt3quiet:out"));

    struct Row {
        QStringList args;
        int code;
        const char* says;
    };
    const Row table[] = {
        {{"send", dump, "--to", "no such device"}, 3, "no MIDI device matches \"no such device\""},
        {{"send", dump, "--to", "99"}, 3, "there is no MIDI device 99"},
        {{"receive", dir.filePath("x.syx"), "--from", "gt3nothere"}, 3, "no MIDI device matches"},
        {{"receive", dir.filePath("x.syx"), "--from", "-1"}, 3, "there is no MIDI device -1"},
        {{"send", dir.filePath("missing.syx"), "--to", "gt3rx"}, 3, "cannot read"},
        {{"send", damaged, "--to", "gt3rx"}, 1, "is not sent: "},
        {{"receive", dir.filePath("x.syx"), "--from", "quiet", "--timeout", "0.5"}, 1, "no dump arrived within 0.5 seconds"},
        {{"send", dump, "--pacing", "slow"}, 2, "--pacing is din or fast"},
    };
    for (const Row& row : table) {
        SCOPED_TRACE(row.args.join(' ').toStdString());
        const CliRun run = RunCli(row.args);
        EXPECT_EQ(run.code, row.code) << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(QLatin1String(row.says))) << run.err.toStdString();
        EXPECT_TRUE(run.out.isEmpty()) << run.out.toStdString();
    }
    EXPECT_FALSE(QFile::exists(dir.filePath("x.syx")));
    // Nothing reached the GT-3: the damaged dump was refused before a port opened.
    rx->kill();
    rx->waitForFinished(3000);
    silent->kill();
    silent->waitForFinished(3000);
    EXPECT_FALSE(QFile::exists(dir.filePath("heard.syx")) && !readBytes(dir.filePath("heard.syx")).isEmpty());
}

TEST_F(CliTransfer, CtrlCStopsTheSendBetweenMessagesAndClosesThePort)
{
    QTemporaryDir dir;
    const QString dump = dir.filePath("dump.syx"), heard = dir.filePath("heard.syx");
    const long long messages = generateDump(dump, 60000, 9).count('\xF7');  // about 20 s at DIN pace
    auto rx = startGt3sim({"receive", heard, "--name", "gt3rx", "--idle-ms", "1500", "--timeout-ms", "60000"});
    ASSERT_TRUE(jack->waitForPort("gt3rx:in"));
    auto cli = StartCli({"send", dump, "--to", "gt3rx", "--pacing", "din"});
    ASSERT_TRUE(runEventsUntil([&] { return jack->ports().join(' ').contains("Tandrel:"); }, 10s));
    runEventsFor(1500ms);
    ASSERT_EQ(cli->state(), QProcess::Running) << cli->readAllStandardError().toStdString();

    QElapsedTimer clock;
    clock.start();
    ::kill(static_cast<pid_t>(cli->processId()), SIGINT);
    const CliRun run = Finish(*cli, 5s);
    EXPECT_LT(clock.elapsed(), 1000);
    EXPECT_EQ(run.code, 1) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains(QString(" of %1 messages").arg(messages))) << run.err.toStdString();
    EXPECT_FALSE(jack->ports().join(' ').contains("Tandrel:")) << jack->ports().join(' ').toStdString();

    // What the GT-3 heard is whole messages, the first ones of the dump.
    ASSERT_TRUE(finishGt3sim(*rx, 20s));
    const auto summary = gt3simSummary(QString::fromLocal8Bit(rx->readAllStandardOutput()), "gt3sim receive:");
    ASSERT_TRUE(summary.count("messages"));
    EXPECT_GT(summary.at("messages"), 0);
    EXPECT_LT(summary.at("messages"), messages);
    EXPECT_EQ(summary.at("framing_errors"), 0);
    const QByteArray got = readBytes(heard);
    EXPECT_TRUE(readBytes(dump).startsWith(got));
    EXPECT_TRUE(got.endsWith('\xF7'));
}

TEST_F(CliTransfer, SendsTheSameBytesWithTheSamePacingAsTheWindow)
{
    qunsetenv("TANDREL_MIDI_PACING");
    qunsetenv("TANDREL_MIDI_PAUSE_MS");
    QTemporaryDir dir;
    const QString dump = dir.filePath("dump.syx");
    const long long messages = generateDump(dump, 4000, 11).count('\xF7');
    ASSERT_GT(messages, 2);

    // What gt3sim heard of one send, judged: its summary.
    const auto heard = [&](const QString& name, const std::function<void()>& send) {
        const QString file = dir.filePath(name + ".syx");
        auto rx = startGt3sim({"receive", file, "--name", name, "--expect-messages", QString::number(messages),
                               "--min-pause-ms", "20", "--timeout-ms", "60000"});
        EXPECT_TRUE(jack->waitForPort(name + ":in"));
        send();
        EXPECT_TRUE(finishGt3sim(*rx, 60s));
        auto summary = gt3simSummary(QString::fromLocal8Bit(rx->readAllStandardOutput()), "gt3sim receive:");
        SCOPED_TRACE(name.toStdString());
        EXPECT_EQ(readBytes(file), readBytes(dump));
        EXPECT_EQ(summary["messages"], messages);
        EXPECT_EQ(summary["short_pauses"], 0);
        EXPECT_GE(summary["min_pause_us"], 20000);
        std::printf("%s: min_pause_us=%lld wire_span_us=%lld\n", qPrintable(name), summary["min_pause_us"], summary["wire_span_us"]);
        return summary;
    };
    // The CLI, on its default (DIN) pacing.
    auto cli = heard("gt3cli", [&] { EXPECT_EQ(RunCli({"send", dump, "--to", "gt3cli"}).code, 0); });

    // The window, opening the same file and clicking Send.
    auto window = heard("gt3win", [&] {
        const auto in = CreateMIDIInput();
        const auto out = CreateMIDIOutput();
        FakeServices fake;
        fake.settings.values[settings::kUserSetup] = "1";
        fake.settings.values[settings::kMIDIInputDeviceID] = " 0";
        fake.settings.values[settings::kMIDIOutputDeviceID] = settings::SignedText(ListDevices(*out, 0).indexOf("gt3win:in"));
        QtEventLoop loop;
        Services services{*in, *out, fake.dialog, fake.boxes, fake.settings, fake.folders, fake.beeper, loop};
        DumpState MAIN;
        frmMain w(services, MAIN);
        w.Form_Load();
        fake.dialog.willChoose(dump);
        w.cmdOpen->click();
        w.cmdSend->click();
    });
    // The same pacing: the pauses and the whole span agree within a JACK cycle or two.
    EXPECT_NEAR(cli["min_pause_us"], window["min_pause_us"], 6000);
    EXPECT_NEAR(cli["wire_span_us"], window["wire_span_us"], 0.1 * window["wire_span_us"]);
}

TEST_F(CliTransfer, PortsListsDevicesAndSendUsesTheStoredOne)
{
    QTemporaryDir dir;
    const QString dump = dir.filePath("dump.syx"), heard = dir.filePath("heard.syx");
    const long long messages = generateDump(dump, 2000, 13).count('\xF7');
    auto rx = startGt3sim({"receive", heard, "--name", "gt3rx", "--expect-messages", QString::number(messages),
                           "--timeout-ms", "60000"});
    ASSERT_TRUE(jack->waitForPort("gt3rx:in"));

    const auto lineOf = [](const QString& text, const QString& part) {
        for (const QString& line : text.split('\n'))
            if (line.contains(part)) return line;
        return QString();
    };
    QSettingsStore settings;
    settings.write(settings::kUserSetup, "1");
    settings.write(settings::kMIDIOutputDeviceID, "-1");
    const CliRun before = RunCli({"ports"});
    ASSERT_EQ(before.code, 0) << before.err.toStdString();
    EXPECT_TRUE(before.out.startsWith("MIDI system: JACK\nInputs:\n")) << before.out.toStdString();
    const QString outputs = before.out.mid(before.out.indexOf("Outputs:\n"));
    EXPECT_TRUE(lineOf(outputs, "-1").contains("Tandrel")) << outputs.toStdString();
    EXPECT_TRUE(lineOf(outputs, "-1").endsWith("(stored)")) << outputs.toStdString();
    const QString sinkLine = lineOf(outputs, "gt3rx");
    ASSERT_FALSE(sinkLine.isEmpty()) << before.out.toStdString();

    // Setup's stored device is the CLI's too.
    const int sink = sinkLine.trimmed().section(' ', 0, 0).toInt();
    settings.write(settings::kMIDIOutputDeviceID, settings::SignedText(sink));
    const CliRun after = RunCli({"ports"});
    EXPECT_TRUE(lineOf(after.out.mid(after.out.indexOf("Outputs:\n")), "gt3rx").endsWith("(stored)")) << after.out.toStdString();

    const CliRun send = RunCli({"send", dump, "--pacing", "fast"});
    EXPECT_EQ(send.code, 0) << send.err.toStdString();
    EXPECT_TRUE(send.err.startsWith(QString("sent %1 bytes, %2 messages")
                                         .arg(QString::fromStdString(GroupedNumber(readBytes(dump).size())))
                                         .arg(messages)))
        << send.err.toStdString();
    ASSERT_TRUE(finishGt3sim(*rx, 30s));
    EXPECT_EQ(readBytes(heard), readBytes(dump));
}

}  // namespace
