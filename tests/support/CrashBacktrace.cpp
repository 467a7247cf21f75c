// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/CrashBacktrace.h"

#include <initializer_list>

#include <execinfo.h>
#include <signal.h>
#include <unistd.h>

namespace tandrel::testing {
namespace {

// Only async-signal-safe calls: the heap or a lock may be what broke.
void onCrash(int signal)
{
    static const char head[] = "\n*** Crashed: the crashing thread's frames, innermost first ***\n";
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, head, sizeof head - 1);
    void* frames[64];
    ::backtrace_symbols_fd(frames, ::backtrace(frames, 64), STDERR_FILENO);
    ::raise(signal);  // the default action again (SA_RESETHAND): the same death, and its core
}

}  // namespace

void installCrashBacktrace()
{
    void* warm[1];
    ::backtrace(warm, 1);  // the first call loads libgcc_s, which allocates: not in a crash
    struct sigaction action {};
    action.sa_handler = onCrash;
    action.sa_flags = SA_RESETHAND | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGSEGV, SIGBUS, SIGABRT})
        if (signal == SIGABRT || !kSanitizerReportsFaults) ::sigaction(signal, &action, nullptr);
}

}  // namespace tandrel::testing
