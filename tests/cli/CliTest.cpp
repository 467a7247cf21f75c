// SPDX-License-Identifier: GPL-3.0-or-later
// tandrel-cli in-process: its command lines, and verify's report, text and JSON, on real
// instruments' files read in place and on a generated dump with one checksum spoiled.
#include "cli/CliCommands.h"
#include "cli/CliOptions.h"
#include "support/Helpers.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace tandrel::cli;
using namespace tandrel::testing;
using Command = CliOptions::Command;

namespace {

struct Accepted {
    QStringList args;
    Command command;
    QStringList files;
    std::optional<QString> port;
    double idle, timeout;
    bool keepPartial;
    std::optional<bool> fast;
    std::optional<int> pauseMs;
    bool json;
};

TEST(CliArguments, AcceptedCommandLines)
{
    const std::optional<QString> none;
    const Accepted table[] = {
        {{"--help"}, Command::Help, {}, none, 3, 0, false, {}, {}, false},
        {{"--version"}, Command::Version, {}, none, 3, 0, false, {}, {}, false},
        {{"ports"}, Command::Ports, {}, none, 3, 0, false, {}, {}, false},
        {{"receive", "a.syx"}, Command::Receive, {"a.syx"}, none, 3, 0, false, {}, {}, false},
        {{"receive", "a.syx", "--from", "2", "--idle", "0.5", "--timeout", "10", "--keep-partial"},
         Command::Receive, {"a.syx"}, QString("2"), 0.5, 10, true, {}, {}, false},
        // Options before the file, and --name=value.
        {{"receive", "--from=GT-3 In", "--idle=1", "b.syx"}, Command::Receive, {"b.syx"}, QString("GT-3 In"), 1, 0, false, {}, {}, false},
        {{"send", "a.syx", "--to", "-1", "--pacing", "fast", "--pause-ms", "0"},
         Command::Send, {"a.syx"}, QString("-1"), 3, 0, false, true, 0, false},
        {{"send", "a.syx", "--pacing", "din", "--pause-ms", "35"}, Command::Send, {"a.syx"}, none, 3, 0, false, false, 35, false},
        {{"verify", "a.syx", "b.syx", "--json", "c.syx"}, Command::Verify, {"a.syx", "b.syx", "c.syx"}, none, 3, 0, false, {}, {}, true},
        // After "--" a file may start with dashes.
        {{"verify", "--", "--odd.syx"}, Command::Verify, {"--odd.syx"}, none, 3, 0, false, {}, {}, false},
        {{"send", "a.syx", "--help"}, Command::Help, {}, none, 3, 0, false, {}, {}, false},
    };
    for (const Accepted& row : table) {
        SCOPED_TRACE(row.args.join(' ').toStdString());
        const ParsedCommandLine p = ParseCommandLine(row.args);
        ASSERT_TRUE(p.error.isEmpty()) << p.error.toStdString();
        const CliOptions& o = p.options;
        EXPECT_EQ(o.command, row.command);
        EXPECT_EQ(o.files, row.files);
        EXPECT_EQ(o.port, row.port);
        EXPECT_DOUBLE_EQ(o.idleSeconds, row.idle);
        EXPECT_DOUBLE_EQ(o.timeoutSeconds, row.timeout);
        EXPECT_EQ(o.keepPartial, row.keepPartial);
        EXPECT_EQ(o.fastPacing, row.fast);
        EXPECT_EQ(o.pauseMs, row.pauseMs);
        EXPECT_EQ(o.json, row.json);
    }
}

TEST(CliArguments, RefusedCommandLinesSayWhy)
{
    const std::pair<QStringList, const char*> table[] = {
        {{}, "a command is needed"},
        {{"backup"}, "unknown command \"backup\""},
        {{"receive"}, "receive needs one file"},
        {{"receive", "a.syx", "b.syx"}, "receive needs one file"},
        {{"verify"}, "verify needs at least one file"},
        {{"ports", "x"}, "ports takes no file"},
        {{"send", "a.syx", "--from", "1"}, "send does not take --from"},
        {{"receive", "a.syx", "--to", "1"}, "receive does not take --to"},
        {{"verify", "a.syx", "--pacing", "din"}, "verify does not take --pacing"},
        {{"send", "a.syx", "--to"}, "--to needs a value"},
        {{"send", "a.syx", "--to", " "}, "--to needs a device number or name"},
        {{"send", "a.syx", "--pacing", "slow"}, "--pacing is din or fast, not \"slow\""},
        {{"send", "a.syx", "--pause-ms", "-5"}, "--pause-ms needs 0 to 60000 milliseconds, not \"-5\""},
        {{"send", "a.syx", "--pause-ms", "12ms"}, "--pause-ms needs 0 to 60000 milliseconds, not \"12ms\""},
        {{"receive", "a.syx", "--idle", "0"}, "--idle needs a number of seconds, not \"0\""},
        {{"receive", "a.syx", "--idle", "nan"}, "--idle needs a number of seconds, not \"nan\""},
        {{"receive", "a.syx", "--timeout", "-1"}, "--timeout needs a number of seconds, not \"-1\""},
        {{"receive", "a.syx", "--keep-partial=yes"}, "receive does not take --keep-partial"},
    };
    for (const auto& [args, why] : table) {
        SCOPED_TRACE(args.join(' ').toStdString());
        EXPECT_EQ(ParseCommandLine(args).error.toStdString(), why);
    }
}

TEST(CliArguments, HelpNamesEveryExitCode)
{
    const QString help = HelpText();
    for (const char* line : {"0 success", "1 the dump has errors or was incomplete", "2 usage", "3 MIDI or file failure"})
        EXPECT_TRUE(help.simplified().contains(QLatin1String(line))) << line;
}

struct VerifyRun {
    int code;
    QString out, err;
};

VerifyRun Verify(const QStringList& files, bool json)
{
    CliOptions o;
    o.command = CliOptions::Command::Verify;
    o.files = files;
    o.json = json;
    VerifyRun run;
    QTextStream out(&run.out), err(&run.err);
    Console console{out, err, false};
    run.code = RunVerify(o, console);
    return run;
}

TEST(CliVerify, RealWorldFilesAsJsonAndAsText)
{
    const QString dir = qEnvironmentVariable("TANDREL_SOURCE_DIR") + QStringLiteral("/../shared/realworld");
    if (!QDir(dir).exists())
        GTEST_SKIP() << "the real-world files are not beside the source tree (" << dir.toStdString() << ")";
    struct Row {
        const char* file;
        qint64 messages, bytes, trailing;
        int notRoland, notGT3;
    };
    const Row table[] = {
        {"EZ-Tone.syx", 2400, 322800, 0, 0, 2400},
        {"GR-55_complete_system_dump.syx", 141, 51989, 0, 0, 141},
        {"JV1080_AGSOUND1.SYX", 230, 29578, 0, 0, 230},
        {"U220Factory.Syx", 250, 33883, 71, 0, 250},
        {"yamahaDX7-ROM2B.SYX", 1, 4104, 0, 1, 0},
        {"vicbank1.syx", 1, 19665, 0, 1, 0},
    };
    QStringList files;
    for (const Row& row : table) files << dir + '/' + row.file;
    const VerifyRun run = Verify(files, true);
    // The cut-off message at the end of the U-220 file makes the whole run incomplete.
    EXPECT_EQ(run.code, kDumpProblem);
    EXPECT_TRUE(run.err.isEmpty()) << run.err.toStdString();
    const QJsonArray reports = QJsonDocument::fromJson(run.out.toUtf8()).array();
    ASSERT_EQ(reports.size(), std::size(table)) << run.out.toStdString();
    for (std::size_t i = 0; i < std::size(table); ++i) {
        const Row& row = table[i];
        SCOPED_TRACE(row.file);
        const QJsonObject r = reports[int(i)].toObject();
        EXPECT_EQ(r["file"].toString(), files[int(i)]);
        EXPECT_EQ(r["verdict"].toString(), "warnings");
        EXPECT_EQ(r["messages"].toInteger(), row.messages);
        EXPECT_EQ(r["bytes"].toInteger(), row.bytes);
        EXPECT_EQ(r["trailing_bytes"].toInteger(), row.trailing);
        EXPECT_EQ(r["bad_checksums"].toInteger(), 0);
        EXPECT_EQ(r["damaged"].toInteger(), 0);
        EXPECT_EQ(r["not_roland"].toInteger(), row.notRoland);
        EXPECT_EQ(r["not_gt3"].toInteger(), row.notGT3);
    }

    const QString u220 = files[3], dx7 = files[4];
    const VerifyRun text = Verify({dx7, u220}, false);
    EXPECT_EQ(text.code, kDumpProblem);
    EXPECT_EQ(text.out, dx7 + ": warnings; 1 message, 4,104 bytes; not a Roland dump\n" + u220
                            + ": warnings; 250 messages, 33,883 bytes; every checksum valid; 71 bytes after the last F7; "
                              "not a GT-3 dump\n"
                              "  71 bytes after the last message at byte 33,812\n");
    // A complete file alone passes.
    EXPECT_EQ(Verify({dx7}, false).code, kSuccess);
}

TEST(CliVerify, DamageIsListedWhereItLies)
{
    QTemporaryDir dir;
    const QString good = dir.filePath("good.syx"), bad = dir.filePath("bad.syx"), missing = dir.filePath("missing.syx");
    QByteArray dump = generateDump(good, 3000);
    const qsizetype second = dump.indexOf('\xF7') + 1, end = dump.indexOf('\xF7', second);
    dump[end - 1] = char(dump[end - 1] ^ 1);  // the second message's checksum
    ASSERT_TRUE(writeBytes(bad, dump));

    const VerifyRun text = Verify({good, bad}, false);
    EXPECT_EQ(text.code, kDumpProblem);
    EXPECT_TRUE(text.out.startsWith(good + ": good; ")) << text.out.toStdString();
    EXPECT_TRUE(text.out.contains(bad + ": errors; ")) << text.out.toStdString();
    EXPECT_TRUE(text.out.endsWith(QString("  message 2 at byte %1: bad checksum\n").arg(second))) << text.out.toStdString();

    const VerifyRun json = Verify({bad, missing}, true);
    // A file that cannot be read outranks a damaged one.
    EXPECT_EQ(json.code, kFailure);
    EXPECT_EQ(json.err, "tandrel-cli: cannot read " + missing + "\n");
    const QJsonArray reports = QJsonDocument::fromJson(json.out.toUtf8()).array();
    ASSERT_EQ(reports.size(), 2);
    const QJsonObject r = reports[0].toObject();
    EXPECT_EQ(r["verdict"].toString(), "errors");
    EXPECT_EQ(r["bad_checksums"].toInteger(), 1);
    const QJsonArray problems = r["problem_messages"].toArray();
    ASSERT_EQ(problems.size(), 1);
    EXPECT_EQ(problems[0].toObject()["message"].toInteger(), 2);
    EXPECT_EQ(problems[0].toObject()["offset"].toInteger(), second);
    EXPECT_EQ(problems[0].toObject()["problems"].toArray(), QJsonArray{"bad checksum"});
    EXPECT_EQ(reports[1].toObject()["error"].toString(), "cannot read");
}

}  // namespace
