// SPDX-License-Identifier: GPL-3.0-or-later
// tandrel-cli: the window's transfers from a terminal and from scripts.
#include "cli/CliCommands.h"
#include "cli/CliOptions.h"
#include "platform/QSettingsStore.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>

#ifdef _WIN32
#include <io.h>
#define TANDREL_ISATTY _isatty
#else
#include <unistd.h>
#define TANDREL_ISATTY isatty
#endif

namespace {

extern "C" void OnInterrupt(int)
{
    tandrel::cli::gInterrupted = true;
    // A second Ctrl+C ends the program at once.
    std::signal(SIGINT, SIG_DFL);
}

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tandrel-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TANDREL_VERSION));
    QTextStream out(stdout), err(stderr);
    using namespace tandrel::cli;
    Console console{out, err, TANDREL_ISATTY(2) != 0};

    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    const ParsedCommandLine parsed = ParseCommandLine(arguments);
    if (!parsed.error.isEmpty()) {
        err << "tandrel-cli: " << parsed.error << "\n\n" << HelpText() << Qt::flush;
        return kUsage;
    }
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
    tandrel::QSettingsStore settings;
    return RunCommand(parsed.options, settings, console);
}
