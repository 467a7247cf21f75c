// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/JackMonitor.h"

#include <jack/jack.h>

#include <pthread.h>

namespace tandrel {
namespace {

// libjack reports every failed connection attempt on stderr; the ports say what
// matters through their Error events instead.
void quiet(const char*) {}

std::int64_t periodOf(jack_client_t* client, jack_nframes_t frames)
{
    const jack_nframes_t rate = jack_get_sample_rate(client);
    return rate > 0 ? static_cast<std::int64_t>(frames) * 1000000 / rate : 0;
}

// jack_client_close ends the client's threads with an asynchronous pthread_cancel,
// at whatever instruction they are. A handler cut short inside Qt's posting leaves a
// heap allocation or the event queue half done, and a crash for later: so a handler
// holds the cancel off, and the thread ends where the handler returns.
class CancelHeldOff {
public:
    CancelHeldOff() { pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &state_); }
    //! Not a destructor: the cancel may unwind from in here, and a destructor is noexcept.
    void release() { pthread_setcancelstate(state_, nullptr); }

private:
    int state_ = PTHREAD_CANCEL_ENABLE;
};

}  // namespace

std::unique_ptr<JackMonitor> JackMonitor::connect(QString* why)
{
    jack_set_error_function(quiet);
    jack_set_info_function(quiet);
    jack_status_t status{};
    jack_client_t* client = jack_client_open("Tandrel Monitor", JackNoStartServer, &status);
    if (!client) {
        if (why) *why = QStringLiteral("no JACK server is running");
        return nullptr;
    }
    std::unique_ptr<JackMonitor> monitor(new JackMonitor(client));
    jack_on_shutdown(client, &JackMonitor::onShutdown, monitor.get());
    jack_set_xrun_callback(client, &JackMonitor::onXrun, monitor.get());
    jack_set_port_connect_callback(client, &JackMonitor::onConnect, monitor.get());
    if (jack_activate(client) != 0) {
        if (why) *why = QStringLiteral("the JACK server did not accept Tandrel as a client");
        return nullptr;
    }
    return monitor;
}

JackMonitor::JackMonitor(jack_client_t* client) : client_(client), lastFrame_(jack_last_frame_time(client)) {}

std::uint64_t JackMonitor::cycles() const
{
    // The frame clock moves on by one period at every cycle's start; its 32 bits
    // wrap within a day, which the difference rides over.
    std::lock_guard lock(cycleMutex_);
    const jack_nframes_t frame = jack_last_frame_time(client_);
    frames_ += static_cast<jack_nframes_t>(frame - lastFrame_);
    lastFrame_ = frame;
    if (const jack_nframes_t period = jack_get_buffer_size(client_); period > 0) {
        cycles_ += frames_ / period;
        frames_ %= period;
    }
    return cycles_;
}

std::chrono::microseconds JackMonitor::period() const
{
    return std::chrono::microseconds(periodOf(client_, jack_get_buffer_size(client_)));
}

std::chrono::steady_clock::time_point JackMonitor::lastCycleAt() const
{
    // Counted back from now on JACK's own clock, whatever clock that is.
    const jack_time_t start = jack_frames_to_time(client_, jack_last_frame_time(client_));
    const jack_time_t now = jack_get_time();
    return std::chrono::steady_clock::now() - std::chrono::microseconds(now > start ? now - start : 0);
}

std::vector<std::string> JackMonitor::connections(const std::string& port) const
{
    std::vector<std::string> names;
    jack_port_t* p = jack_port_by_name(client_, port.c_str());
    if (!p) return names;
    if (const char** links = jack_port_get_all_connections(client_, p)) {
        for (const char** link = links; *link; ++link) names.emplace_back(*link);
        jack_free(links);
    }
    return names;
}

std::vector<std::string> JackMonitor::announcedConnections(const std::string& port) const
{
    std::vector<std::string> names;
    std::lock_guard lock(linksMutex_);
    for (const auto& [a, b] : links_) {
        if (a == port) names.push_back(b);
        if (b == port) names.push_back(a);
    }
    return names;
}

JackMonitor::~JackMonitor()
{
    jack_client_close(client_);
}

void JackMonitor::onShutdown(void* self)
{
    CancelHeldOff cancel;
    auto* monitor = static_cast<JackMonitor*>(self);
    monitor->alive_ = false;
    QMetaObject::invokeMethod(monitor, &JackMonitor::stopped, Qt::QueuedConnection);
    cancel.release();
}

// On libjack's notification thread, not the realtime one.
int JackMonitor::onXrun(void* self)
{
    CancelHeldOff cancel;
    QMetaObject::invokeMethod(static_cast<JackMonitor*>(self), &JackMonitor::xrun, Qt::QueuedConnection);
    cancel.release();
    return 0;
}

// On libjack's notification thread, as the server makes or undoes the connection.
void JackMonitor::onConnect(std::uint32_t a, std::uint32_t b, int connect, void* self)
{
    auto* monitor = static_cast<JackMonitor*>(self);
    const jack_port_t* from = jack_port_by_id(monitor->client_, a);
    const jack_port_t* to = jack_port_by_id(monitor->client_, b);
    if (!from || !to) return;
    CancelHeldOff cancel;  // allocates and locks
    {
        std::pair<std::string, std::string> link{jack_port_name(from), jack_port_name(to)};
        std::lock_guard lock(monitor->linksMutex_);
        std::erase(monitor->links_, link);
        if (connect) monitor->links_.push_back(std::move(link));
    }
    cancel.release();
}

}  // namespace tandrel
