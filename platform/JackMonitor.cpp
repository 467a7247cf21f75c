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
    jack_set_process_callback(client, &JackMonitor::onProcess, monitor.get());
    jack_set_xrun_callback(client, &JackMonitor::onXrun, monitor.get());
    monitor->periodUs_ = periodOf(client, jack_get_buffer_size(client));
    if (jack_activate(client) != 0) {
        if (why) *why = QStringLiteral("the JACK server did not accept Tandrel as a client");
        return nullptr;
    }
    return monitor;
}

JackMonitor::JackMonitor(jack_client_t* client) : client_(client) {}

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

int JackMonitor::onProcess(std::uint32_t frames, void* self)
{
    auto* monitor = static_cast<JackMonitor*>(self);
    monitor->periodUs_.store(periodOf(monitor->client_, frames), std::memory_order_relaxed);
    monitor->lastCycleAt_.store(std::chrono::steady_clock::now().time_since_epoch().count(), std::memory_order_relaxed);
    monitor->cycles_.fetch_add(1);
    return 0;
}

}  // namespace tandrel
