// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A private JACK server on the dummy backend, so that tests drive the real MIDI
// ports through a real transport without sound hardware. Usage:
//
//   tandrel::testing::JackServer jack;          // starts it, or says why not
//   ASSERT_TRUE(jack.ok()) << jack.error();     // (skip first when !JackServer::installed())
//   // JACK_DEFAULT_SERVER and TANDREL_MIDI_API=jack now point this process and
//   // every child at the server, so CreateMIDIInput() etc. land on it.
//   auto sim = tandrel::testing::startGt3sim({"transmit", file, "--pacing", "fast",
//                                             "--name", "sim", "--connect", "Tandrel In:in"});
//   ASSERT_TRUE(jack.waitForPort("sim:out"));
//   ASSERT_TRUE(tandrel::testing::finishGt3sim(*sim, std::chrono::seconds(30)));
//   // Leaving the scope stops the server and removes what it left in /dev/shm.
//
// The servers of all test programs take turns (a file lock), so a test holds its
// server only as long as it needs it. Use one server at a time in a program.

#include <QProcess>
#include <QString>
#include <QStringList>

#include <chrono>
#include <map>
#include <memory>

namespace tandrel::testing {

class JackServer {
public:
    //! Starts the server and waits until it answers; waits up to `turn` for
    //! another test program's server to end first.
    explicit JackServer(std::chrono::milliseconds turn = std::chrono::minutes(3));
    ~JackServer();
    JackServer(const JackServer&) = delete;
    JackServer& operator=(const JackServer&) = delete;

    //! True when jackd and jack_lsp are on the PATH.
    static bool installed();

    bool ok() const { return error_.isEmpty(); }
    QString error() const { return error_; }
    //! The server's unique name (what JACK_DEFAULT_SERVER holds).
    QString name() const { return name_; }
    //! Sample rate and period the server runs with.
    static constexpr int sampleRate = 48000;
    static constexpr int period = 256;

    bool running() const;
    //! Ends the server abruptly (SIGKILL), as a crash would. Its leftovers are
    //! still removed when the object goes.
    void kill();

    //! Every port of the server, full names ("client:port").
    QStringList ports() const;
    bool waitForPort(const QString& port, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
    //! Connects an output port to an input port (jack_connect).
    bool connect(const QString& from, const QString& to) const;
    //! The JACK memory in /dev/shm that the server has used.
    QStringList sharedMemory() const;

private:
    static bool launch(QProcess& jackd, const QString& name, QString* output);
    static void reclaimDeadServers();
    void stop();
    void removeLeftovers();
    void noteSharedMemory();

    QString name_;
    QString error_;
    QByteArray oldServer_, oldApi_;
    bool envSet_ = false, hadServer_ = false, hadApi_ = false;
    int lockFd_ = -1;
    bool locked_ = false;
    QStringList shm_;
    std::unique_ptr<QProcess> jackd_;
};

//! gt3sim in the build tree (TANDREL_BUILD_DIR/tools/gt3sim/gt3sim); empty when missing.
QString gt3simPath();
//! Starts gt3sim with `args`; the process is killed when the pointer is dropped.
std::unique_ptr<QProcess> startGt3sim(const QStringList& args);
//! Waits for gt3sim to end; false (and the process killed) on a timeout or a crash.
bool finishGt3sim(QProcess& sim, std::chrono::milliseconds timeout);
//! The `key=value` pairs of gt3sim's summary line, which starts with `prefix`
//! ("gt3sim receive:" or "gt3sim transmit:").
std::map<QString, long long> gt3simSummary(const QString& output, const QString& prefix);

}  // namespace tandrel::testing
