// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

struct _jack_client;

namespace tandrel {

//! A port-less client of the JACK server that the MIDI ports use. It tells whether
//! the server is still there and counts its processing cycles, which is how the
//! output port knows that what it handed over has gone out. RtMidi offers neither,
//! and its JACK output spins for ever once nothing drains it. It reads the cycles
//! from the server's frame clock and has no process callback: a client without one
//! is left out of the graph, and is not woken at every cycle.
class JackMonitor : public QObject {
    Q_OBJECT
public:
    //! Connects to the server that JACK_DEFAULT_SERVER names (or the default one),
    //! never starting one; nullptr and the reason in `why` when none answers.
    static std::unique_ptr<JackMonitor> connect(QString* why);
    ~JackMonitor() override;

    bool alive() const { return alive_.load(); }
    //! Processing cycles started since connecting.
    std::uint64_t cycles() const;
    //! The length of one cycle.
    std::chrono::microseconds period() const;
    //! When the latest cycle started, so a waiter can sleep until the next one.
    std::chrono::steady_clock::time_point lastCycleAt() const;
    //! True for the first port to report that this server stopped: both ports see
    //! it go, and the user is told once.
    bool claimStopReport() { return !stopReported_.exchange(true); }
    //! The full names of the ports connected to the port named `port` now.
    std::vector<std::string> connections(const std::string& port) const;
    //! The full names of the ports the server has said it connected to the port named
    //! `port` and not disconnected since. The server says so as it makes the
    //! connection; connections() shows it only from the next cycle on.
    std::vector<std::string> announcedConnections(const std::string& port) const;

signals:
    //! The server has gone; raised on the monitor's own thread.
    void stopped();
    //! The server missed cycles (an xrun), and MIDI of those cycles may be lost;
    //! raised on the monitor's own thread.
    void xrun();

private:
    explicit JackMonitor(_jack_client* client);
    static void onShutdown(void* self);
    static int onXrun(void* self);
    static void onConnect(std::uint32_t a, std::uint32_t b, int connect, void* self);

    _jack_client* client_;
    std::atomic<bool> alive_{true};
    mutable std::mutex cycleMutex_;
    mutable std::uint32_t lastFrame_ = 0;  //!< the frame clock at the latest cycle start seen
    mutable std::uint64_t cycles_ = 0;
    mutable std::uint32_t frames_ = 0;  //!< frames seen that do not yet make a whole cycle
    std::atomic<bool> stopReported_{false};
    mutable std::mutex linksMutex_;
    std::vector<std::pair<std::string, std::string>> links_;  //!< announced, not yet undone
};

}  // namespace tandrel
