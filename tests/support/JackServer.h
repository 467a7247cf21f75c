// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "support/Helpers.h"

#include <QProcess>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace tandrel::testing {

//! A private JACK server (dummy backend) that JACK_DEFAULT_SERVER and TANDREL_MIDI_API
//! point this process and its children at while it lives; it cleans /dev/shm when it
//! goes. The servers of all test programs take turns (a file lock): use one at a time.
class JackServer {
public:
    //! Starts the server; waits up to `turn` for another program's server to end.
    explicit JackServer(std::chrono::milliseconds turn = std::chrono::minutes(3));
    ~JackServer();

    static bool installed();  //!< jackd, jack_lsp and jack_connect are on the PATH
    bool ok() const { return error_.isEmpty(); }
    QString error() const { return error_; }
    QString name() const { return name_; }
    bool running() const { return jackd_ && jackd_->state() != QProcess::NotRunning; }
    void kill();  //!< SIGKILL, as a crash would
    QStringList ports() const;
    bool waitForPort(const QString& port, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
    //! The JACK memory in /dev/shm that the server has mapped.
    QStringList sharedMemory() const { return shm_; }
    //! Whether the server runs with realtime scheduling; without it a busy machine
    //! makes cycles late and drops MIDI.
    bool realtime() const { return realtime_; }
    //! Overrun reports ("XRun") in the server's output so far.
    int xruns();
    //! Whether `report` is a port's word that a dump may be incomplete and the server did
    //! miss cycles: a starved machine does that, and the port is right to say so.
    bool xrunExplains(const QString& report) { return report.contains("may be incomplete") && xruns() > 0; }

private:
    void stop();
    void noteSharedMemory();

    QString name_, error_;
    std::vector<std::pair<const char*, std::optional<QByteArray>>> savedEnv_;  //!< what we overrode
    int lockFd_ = -1;
    bool locked_ = false;
    QStringList shm_;
    bool realtime_ = false;
    QByteArray log_;
    std::unique_ptr<QProcess> jackd_;
};

}  // namespace tandrel::testing
