// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The commands of tandrel-cli, on the same ports, pacing, files and settings as
// the window, with no widget anywhere.

#include "cli/CliOptions.h"

#include <QTextStream>

#include <atomic>

namespace tandrel {
class SettingsStore;
}

namespace tandrel::cli {

//! Where the commands write: data to `out`, messages and progress to `err`.
struct Console {
    QTextStream& out;
    QTextStream& err;
    //! A bar redrawn in place on `err`; otherwise one line at the end.
    bool errIsTerminal = false;
};

//! Set from the Ctrl+C handler: a send stops after the current message, a receive
//! stops listening.
extern std::atomic<bool> gInterrupted;

//! Runs a parsed command line; the result is the exit code.
int RunCommand(const CliOptions& options, SettingsStore& settings, Console& console);

int RunVerify(const CliOptions& options, Console& console);

}  // namespace tandrel::cli
