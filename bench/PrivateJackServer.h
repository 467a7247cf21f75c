// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

#include <chrono>
#include <memory>

namespace tandrel::bench {

//! The suite's own JACK server on the dummy backend, started as the tests' helper
//! starts one (a slot of their own locks and its name, synchronous cycles) but
//! realtime where the system allows it: without realtime scheduling a busy machine
//! makes cycles late, and that would be counted against whichever program happened
//! to be running. It points this process and its children at itself through
//! JACK_DEFAULT_SERVER, counts the cycles the server reports as overrun, and
//! removes the files that bear its name when it goes.
class PrivateJackServer {
public:
    PrivateJackServer();
    ~PrivateJackServer();
    PrivateJackServer(const PrivateJackServer&) = delete;
    PrivateJackServer& operator=(const PrivateJackServer&) = delete;

    static bool installed();
    bool ok() const { return error_.isEmpty(); }
    QString error() const { return error_; }
    bool realtime() const { return realtime_; }

    QStringList ports() const;
    bool waitForPort(const QString& port, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
    //! Overrun reports ("XRun") in the server's output so far.
    int xruns();

private:
    bool start(bool realtime);
    void stop();
    void removeOwnFiles();

    QString name_;
    QString error_;
    bool realtime_ = false;
    int lockFd_ = -1;
    std::unique_ptr<QProcess> jackd_;
    QByteArray log_;
};

}  // namespace tandrel::bench
