// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/CliOptions.h"

#include <cmath>

namespace tandrel::cli {

namespace {

using Command = CliOptions::Command;

//! The options each command takes; a value follows every one but the flags.
struct CommandShape {
    Command command;
    const char* name;
    int minFiles, maxFiles;
    QStringList valued, flags;
};

const QList<CommandShape>& Shapes()
{
    static const QList<CommandShape> shapes{
        {Command::Ports, "ports", 0, 0, {}, {}},
        {Command::Receive, "receive", 1, 1, {"--from", "--idle", "--timeout"}, {"--keep-partial"}},
        {Command::Send, "send", 1, 1, {"--to", "--pacing", "--pause-ms"}, {}},
        {Command::Verify, "verify", 1, 1 << 20, {}, {"--json"}},
    };
    return shapes;
}

std::optional<double> Seconds(const QString& text)
{
    bool ok = false;
    const double v = text.toDouble(&ok);
    if (!ok || !std::isfinite(v) || v < 0 || v > 86400 * 365) return std::nullopt;
    return v;
}

}  // namespace

ParsedCommandLine ParseCommandLine(const QStringList& arguments)
{
    ParsedCommandLine parsed;
    CliOptions& o = parsed.options;
    if (arguments.isEmpty()) {
        parsed.error = QStringLiteral("a command is needed");
        return parsed;
    }
    const QString& first = arguments.front();
    if (first == QLatin1String("--help") || first == QLatin1String("-h") || first == QLatin1String("help")) {
        o.command = Command::Help;
        return parsed;
    }
    if (first == QLatin1String("--version")) {
        o.command = Command::Version;
        return parsed;
    }
    const CommandShape* shape = nullptr;
    for (const CommandShape& s : Shapes())
        if (first == QLatin1String(s.name)) shape = &s;
    if (!shape) {
        parsed.error = QStringLiteral("unknown command \"%1\"").arg(first);
        return parsed;
    }
    o.command = shape->command;

    bool optionsEnded = false;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& arg = arguments[i];
        if (optionsEnded || !arg.startsWith(QLatin1String("--")) || arg == QLatin1String("-")) {
            o.files.append(arg);
            continue;
        }
        if (arg == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        // --name=value is taken as well as --name value.
        QString name = arg, value;
        bool inlineValue = false;
        if (const auto eq = arg.indexOf(u'='); eq > 0) {
            name = arg.left(eq);
            value = arg.mid(eq + 1);
            inlineValue = true;
        }
        if (arg == QLatin1String("--help")) {
            o = CliOptions{};
            return parsed;
        }
        if (shape->flags.contains(name) && !inlineValue) {
            if (name == QLatin1String("--keep-partial")) o.keepPartial = true;
            if (name == QLatin1String("--json")) o.json = true;
            continue;
        }
        if (!shape->valued.contains(name)) {
            parsed.error = QStringLiteral("%1 does not take %2").arg(QLatin1String(shape->name), name);
            return parsed;
        }
        if (!inlineValue) {
            if (i + 1 >= arguments.size()) {
                parsed.error = QStringLiteral("%1 needs a value").arg(name);
                return parsed;
            }
            value = arguments[++i];
        }
        if (name == QLatin1String("--from") || name == QLatin1String("--to")) {
            if (value.trimmed().isEmpty()) {
                parsed.error = QStringLiteral("%1 needs a device number or name").arg(name);
                return parsed;
            }
            o.port = value.trimmed();
        } else if (name == QLatin1String("--idle") || name == QLatin1String("--timeout")) {
            const auto seconds = Seconds(value);
            if (!seconds || (name == QLatin1String("--idle") && *seconds <= 0)) {
                parsed.error = QStringLiteral("%1 needs a number of seconds, not \"%2\"").arg(name, value);
                return parsed;
            }
            (name == QLatin1String("--idle") ? o.idleSeconds : o.timeoutSeconds) = *seconds;
        } else if (name == QLatin1String("--pacing")) {
            if (value != QLatin1String("din") && value != QLatin1String("fast")) {
                parsed.error = QStringLiteral("--pacing is din or fast, not \"%1\"").arg(value);
                return parsed;
            }
            o.fastPacing = value == QLatin1String("fast");
        } else if (name == QLatin1String("--pause-ms")) {
            bool ok = false;
            const int ms = value.toInt(&ok);
            if (!ok || ms < 0 || ms > 60000) {
                parsed.error = QStringLiteral("--pause-ms needs 0 to 60000 milliseconds, not \"%1\"").arg(value);
                return parsed;
            }
            o.pauseMs = ms;
        }
    }
    if (o.files.size() < shape->minFiles || o.files.size() > shape->maxFiles) {
        parsed.error = shape->maxFiles == 0 ? QStringLiteral("%1 takes no file").arg(QLatin1String(shape->name))
                       : shape->maxFiles == 1 ? QStringLiteral("%1 needs one file").arg(QLatin1String(shape->name))
                                              : QStringLiteral("%1 needs at least one file").arg(QLatin1String(shape->name));
    }
    return parsed;
}

QString HelpText()
{
    return QStringLiteral(
        "usage: tandrel-cli ports\n"
        "       tandrel-cli receive FILE [--from PORT] [--idle SECONDS] [--timeout SECONDS] [--keep-partial]\n"
        "       tandrel-cli send FILE [--to PORT] [--pacing din|fast] [--pause-ms N]\n"
        "       tandrel-cli verify FILE... [--json]\n"
        "       tandrel-cli --help | --version\n"
        "\n"
        "Moves a BOSS GT-3 bulk dump between the GT-3 and .syx files, paced as Tandrel's window sends.\n"
        "\n"
        "  ports      the MIDI input and output devices, their numbers, the MIDI system in use,\n"
        "             and which ones Setup stored\n"
        "  receive    waits for a dump, ends once the stream has been quiet for --idle seconds (3),\n"
        "             writes FILE and prints the verifier's summary; --timeout gives up when no dump\n"
        "             begins in time; Ctrl+C saves nothing unless --keep-partial\n"
        "  send       sends FILE message by message; a dump with damaged messages is not sent;\n"
        "             Ctrl+C stops after the current message\n"
        "  verify     the verifier's report on each FILE, as text or as JSON\n"
        "\n"
        "PORT is a device number, or part of a device's name. Without it, the devices stored\n"
        "by Setup in Tandrel's window are used.\n"
        "\n"
        "Exit status: 0 success; 1 the dump has errors or was incomplete; 2 usage;\n"
        "3 MIDI or file failure.\n");
}

}  // namespace tandrel::cli
