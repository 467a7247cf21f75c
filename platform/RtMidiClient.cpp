// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/RtMidiClient.h"

#include <RtMidi.h>

#include <QThread>

#include <algorithm>
#include <chrono>
#include <thread>

namespace tandrel {
namespace {

// Every client alive, all on the user-interface thread.
std::vector<RtMidiClient*>& clients()
{
    static std::vector<RtMidiClient*> all;
    return all;
}

}  // namespace

RtMidiClient::RtMidiClient(Maker make, QObject* context, std::function<void()> replaced,
                           std::function<void()> stopped)
    : make_(std::move(make)),
      context_(context),
      replaced_(std::move(replaced)),
      stopped_(std::move(stopped)),
      backend_(MidiBackend::shared())
{
    clients().push_back(this);
}

// RtMidi's thread is gone once its object is, and with it every callback.
RtMidiClient::~RtMidiClient()
{
    if (ahead_.valid()) ahead_.wait();  // the work ahead still writes here
    std::erase(clients(), this);
    QObject::disconnect(stopConnection_);
}

void RtMidiClient::releaseStopped()
{
    using namespace std::chrono_literals;
    for (RtMidiClient* client : std::vector<RtMidiClient*>(clients())) {
        if (client->jack_ && !client->jack_->alive()) client->onServerStopped();
        // What was made ahead on that server, once the work ahead is over: used, libjack crashes.
        const bool aheadOver = !client->ahead_.valid() || client->ahead_.wait_for(0s) == std::future_status::ready;
        if (aheadOver && client->aheadApi_ == MidiBackend::Api::Jack) {
            const std::shared_ptr<JackMonitor> jack = client->aheadJack_.lock();
            if (!jack || !jack->alive()) client->madeAhead_.reset();
        }
    }
}

void RtMidiClient::onServerStopped()
{
    QObject::disconnect(stopConnection_);
    stopped_();
    midi_.reset();
    jack_.reset();
}

void RtMidiClient::makeAhead(QThread* home)
{
    const MidiBackend::Api api = backend_->ensure();
    // The monitor raises its events on the thread it lives in.
    if (const auto& jack = backend_->jack(); jack && jack->thread() != home) jack->moveToThread(home);
    if (api == MidiBackend::Api::None) return;
    try {
        madeAhead_ = make_(api);
        aheadApi_ = api;
        aheadJack_ = backend_->jack();
    } catch (const RtMidiError&) {
        // ensure() tries again, and keeps the error for the port to report.
    }
}

std::shared_ptr<RtMidi> RtMidiClient::takeMadeAhead(MidiBackend::Api api)
{
    if (ahead_.valid()) {
        ahead_.wait();
        ahead_ = {};
    }
    std::shared_ptr<RtMidi> made = std::exchange(madeAhead_, nullptr);
    return made && api == aheadApi_ ? made : nullptr;
}

RtMidi* RtMidiClient::ensure()
{
    if (ahead_.valid()) ahead_.wait();  // the backend may still be probing on the other thread
    releaseStopped();  // the stop notice may still be on its way
    const MidiBackend::Api api = backend_->ensure();
    std::shared_ptr<RtMidi> made = takeMadeAhead(api);
    if (api == MidiBackend::Api::None) {
        midi_.reset();
        return nullptr;
    }
    if (midi_ && api == api_ && backend_->jack() == jack_) return midi_.get();
    return make(api, std::move(made));
}

RtMidi* RtMidiClient::remake()
{
    if (ahead_.valid()) ahead_.wait();
    releaseStopped();
    const MidiBackend::Api api = backend_->ensure();
    std::shared_ptr<RtMidi> made = takeMadeAhead(api);  // new and untouched: as clean as any
    if (api == MidiBackend::Api::None) {
        midi_.reset();
        return nullptr;
    }
    return make(api, std::move(made));
}

RtMidi* RtMidiClient::make(MidiBackend::Api api, std::shared_ptr<RtMidi> made)
{
    replaced_();
    QObject::disconnect(stopConnection_);
    midi_.reset();
    jack_ = backend_->jack();
    api_ = api;
    if (made) {
        midi_ = std::move(made);
    } else {
        try {
            midi_ = make_(api);
        } catch (const RtMidiError& e) {
            std::lock_guard lock(errorMutex_);
            error_ = e.getMessage();
            return nullptr;
        }
    }
    // On RtMidi's thread, or on this one.
    midi_->setErrorCallback(
        [](RtMidiError::Type, const std::string& text, void* self) {
            auto* client = static_cast<RtMidiClient*>(self);
            std::lock_guard lock(client->errorMutex_);
            client->error_ = text;
        },
        this);
    // Close the dead server's client as soon as the news comes, before any client
    // joins a server that comes back.
    if (jack_) stopConnection_ = QObject::connect(jack_.get(), &JackMonitor::stopped, context_, [this] { onServerStopped(); });
    return midi_.get();
}

std::vector<MidiDevice> RtMidiClient::devices()
{
    RtMidi* midi = ensure();
    if (!midi) return {};
    std::vector<MidiDevice> list = MidiBackend::listDevices(*midi);
    takeError();  // a port that vanished while listing is simply not listed
    return list;
}

std::int16_t RtMidiClient::deviceCount()
{
    return static_cast<std::int16_t>(std::min<std::size_t>(devices().size(), 32767));
}

std::optional<MidiDevice> RtMidiClient::device(int id)
{
    std::vector<MidiDevice> list = devices();
    if (id < 0 || static_cast<std::size_t>(id) >= list.size()) return std::nullopt;
    return std::move(list[static_cast<std::size_t>(id)]);
}

std::optional<std::pair<MidiError, QString>> RtMidiClient::whyUnavailable(const QString& port)
{
    if (backend_->api() != MidiBackend::Api::None)
        return std::pair{MidiError::OpenFailed, QStringLiteral("The MIDI %1 could not be set up: %2")
                                                    .arg(port, QString::fromStdString(takeError()))};
    if (backend_->claimNoSystemReport()) return std::pair{MidiError::NoMidiSystem, backend_->whyNone()};
    return std::nullopt;
}

bool RtMidiClient::connectedTo(const MidiDevice& device) const
{
    if (!jack_) return true;
    const auto ours = [](const std::vector<std::string>& links) {
        return std::any_of(links.begin(), links.end(), [](const std::string& name) { return MidiBackend::isOwnPort(name); });
    };
    // The server tells its clients of a connection as it makes it, well inside a
    // cycle; the graph shows it only from the next cycle on, and libjack makes a
    // reader of the graph sleep through a cycle while a change is pending. So the
    // graph is read only once a cycle has passed without the news, and two cycles
    // on, a connection not seen either way was refused.
    using namespace std::chrono_literals;
    const std::uint64_t from = jack_->cycles();
    const auto giveUp = std::chrono::steady_clock::now() + 500ms;
    while (!ours(jack_->announcedConnections(device.name))) {
        const std::uint64_t cycles = jack_->cycles();
        if (cycles >= from + 1 && ours(jack_->connections(device.name))) return true;
        if (cycles >= from + 2 || std::chrono::steady_clock::now() > giveUp || !jack_->alive())
            return ours(jack_->connections(device.name));
        std::this_thread::sleep_for(200us);
    }
    return true;
}

std::string RtMidiClient::takeError()
{
    std::lock_guard lock(errorMutex_);
    return std::exchange(error_, std::string());
}

}  // namespace tandrel
