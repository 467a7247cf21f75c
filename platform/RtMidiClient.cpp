// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/RtMidiClient.h"

#include <RtMidi.h>

#include <QThread>

#include <algorithm>

namespace tandrel {

RtMidiClient::RtMidiClient(Maker make, QObject* context, std::function<void()> replaced,
                           std::function<void()> stopped)
    : make_(std::move(make)),
      context_(context),
      replaced_(std::move(replaced)),
      stopped_(std::move(stopped)),
      backend_(MidiBackend::shared())
{
}

// RtMidi's thread is gone once its object is, and with it every callback.
RtMidiClient::~RtMidiClient()
{
    if (ahead_.valid()) ahead_.wait();  // the work ahead still writes here
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
    } catch (const RtMidiError&) {
        // ensure() tries again, and keeps the error for the port to report.
    }
}

RtMidi* RtMidiClient::ensure()
{
    if (ahead_.valid()) {
        ahead_.wait();
        ahead_ = {};
    }
    const MidiBackend::Api api = backend_->ensure();
    if (std::shared_ptr<RtMidi> made = std::exchange(madeAhead_, nullptr); made && !midi_ && api == aheadApi_) {
        replaced_();
        jack_ = backend_->jack();
        api_ = api;
        midi_ = std::move(made);
        hookUp();
        return midi_.get();
    }
    if (api == MidiBackend::Api::None) {
        midi_.reset();
        return nullptr;
    }
    if (midi_ && api == api_ && backend_->jack() == jack_) return midi_.get();

    replaced_();
    midi_.reset();
    jack_ = backend_->jack();
    api_ = api;
    try {
        midi_ = make_(api);
    } catch (const RtMidiError& e) {
        std::lock_guard lock(errorMutex_);
        error_ = e.getMessage();
        return nullptr;
    }
    hookUp();
    return midi_.get();
}

void RtMidiClient::hookUp()
{
    // On RtMidi's thread, or on this one.
    midi_->setErrorCallback(
        [](RtMidiError::Type, const std::string& text, void* self) {
            auto* client = static_cast<RtMidiClient*>(self);
            std::lock_guard lock(client->errorMutex_);
            client->error_ = text;
        },
        this);
    if (jack_)
        QObject::connect(jack_.get(), &JackMonitor::stopped, context_, [this] {
            stopped_();
            // Close the dead server's client now, before any client joins a server
            // that comes back: libjack closing it after that unregisters its port on
            // the new server and crashes.
            midi_.reset();
            jack_.reset();
        });
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

std::string RtMidiClient::takeError()
{
    std::lock_guard lock(errorMutex_);
    return std::exchange(error_, std::string());
}

}  // namespace tandrel
