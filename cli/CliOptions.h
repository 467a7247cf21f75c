// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// tandrel-cli's command line, read into one plain value so that it can be checked
// without any MIDI system.

#include <QString>
#include <QStringList>

#include <optional>

namespace tandrel::cli {

//! The exit codes, as --help and the manual page list them.
enum ExitCode : int {
    kSuccess = 0,
    kDumpProblem = 1,  //!< the dump has errors or was incomplete
    kUsage = 2,
    kFailure = 3,  //!< a MIDI or file failure
};

struct CliOptions {
    enum class Command { Help, Version, Ports, Receive, Send, Verify };
    Command command = Command::Help;
    QStringList files;
    //! --from or --to: a device number, or part of a device's name.
    std::optional<QString> port;
    double idleSeconds = 3;
    //! How long to wait for the dump to begin; 0 waits as long as it takes.
    double timeoutSeconds = 0;
    bool keepPartial = false;
    //! Unset: the window's pacing (DIN, or what TANDREL_MIDI_PACING says).
    std::optional<bool> fastPacing;
    std::optional<int> pauseMs;
    bool json = false;
};

struct ParsedCommandLine {
    CliOptions options;
    QString error;  //!< empty when the command line is usable
};

//! Reads the arguments after the program's name.
ParsedCommandLine ParseCommandLine(const QStringList& arguments);

//! The text --help prints.
QString HelpText();

}  // namespace tandrel::cli
