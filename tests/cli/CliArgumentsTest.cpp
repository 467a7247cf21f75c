// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/CliOptions.h"

#include <gtest/gtest.h>

using namespace tandrel::cli;
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

}  // namespace
