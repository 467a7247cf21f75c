// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/RtMidiInput.h"

#include <RtMidi.h>

#include <algorithm>

namespace tandrel {

struct RtMidiInput::Callbacks {
    // On RtMidi's thread (JACK's realtime thread): copy, and wake the reader once.
    static void message(double, std::vector<unsigned char>* bytes, void* self)
    {
        auto* port = static_cast<RtMidiInput*>(self);
        if (bytes->empty() || !port->queue_.push(bytes->data(), bytes->size())) return;
        QMetaObject::invokeMethod(&port->events_, [port] { port->wake(); }, Qt::QueuedConnection);
    }

    static void error(RtMidiError::Type, const std::string& text, void* self)
    {
        auto* port = static_cast<RtMidiInput*>(self);
        std::lock_guard lock(port->rtErrorMutex_);
        port->rtError_ = text;
    }
};

RtMidiInput::RtMidiInput() : backend_(MidiBackend::shared()) {}

RtMidiInput::~RtMidiInput()
{
    // RtMidi's thread is gone once its object is, and with it every callback.
    midi_.reset();
}

bool RtMidiInput::ensureMidi() const
{
    const MidiBackend::Api api = backend_->ensure();
    if (api == MidiBackend::Api::None) {
        midi_.reset();
        return false;
    }
    if (midi_ && api == midiApi_ && backend_->jack() == midiJack_) return true;

    // A new MIDI system under an open port means the old one went away.
    if (state_ != Closed) const_cast<RtMidiInput*>(this)->onJackStopped();
    midi_.reset();
    midiJack_ = backend_->jack();
    midiApi_ = api;
    try {
        midi_ = std::make_unique<RtMidiIn>(api == MidiBackend::Api::Alsa ? RtMidi::LINUX_ALSA : RtMidi::UNIX_JACK,
                                           MidiBackend::inputClientName());
    } catch (const RtMidiError& e) {
        std::lock_guard lock(rtErrorMutex_);
        rtError_ = e.getMessage();
        return false;
    }
    auto* self = const_cast<RtMidiInput*>(this);
    midi_->setErrorCallback(&Callbacks::error, self);
    midi_->ignoreTypes(false, false, false);  // the filter alone decides
    midi_->setCallback(&Callbacks::message, self);
    if (midiJack_)
        QObject::connect(midiJack_.get(), &JackMonitor::stopped, &self->events_, [self] {
            self->onJackStopped();
            // Close the dead server's client now, before any client joins a server
            // that comes back: libjack closing it after that unregisters its port on
            // the new server and crashes.
            self->midi_.reset();
            self->midiJack_.reset();
        });
    return true;
}

std::vector<RtMidiInput::Device> RtMidiInput::devices() const
{
    if (!ensureMidi()) return {};
    std::vector<Device> list = MidiBackend::listDevices(*midi_);
    takeRtError();  // a port that vanished while listing is simply not listed
    return list;
}

std::int16_t RtMidiInput::DeviceCount() const
{
    return static_cast<std::int16_t>(std::min<std::size_t>(devices().size(), 32767));
}

QString RtMidiInput::DeviceName() const
{
    const std::vector<Device> list = devices();
    if (id_ < 0 || static_cast<std::size_t>(id_) >= list.size()) return {};
    return QString::fromStdString(list[static_cast<std::size_t>(id_)].name);
}

void RtMidiInput::setCommand(std::int16_t code)
{
    switch (code) {
    case Open: open(); break;
    case Close: close(); break;
    case Start: start(); break;
    case Stop:
        if (state_ == Delivering) {
            queue_.setDelivering(false);
            state_ = Opened;
        }
        break;
    case DiscardOldest: queue_.pop(); break;
    default: post(MidiError::InvalidValue, QStringLiteral("The MIDI input has no command %1.").arg(code));
    }
}

void RtMidiInput::open()
{
    close();
    if (!ensureMidi()) {
        if (backend_->api() == MidiBackend::Api::None) {
            if (backend_->claimNoSystemReport()) post(MidiError::NoMidiSystem, backend_->whyNone());
        } else {
            post(MidiError::OpenFailed,
                 QStringLiteral("The MIDI input could not be set up: %1").arg(QString::fromStdString(takeRtError())));
        }
        return;
    }
    const std::vector<Device> list = devices();
    if (id_ < 0 || static_cast<std::size_t>(id_) >= list.size()) {
        post(MidiError::NoSuchDevice, QStringLiteral("MIDI input device %1 is not there (%2 input devices found).")
                                          .arg(id_)
                                          .arg(list.size()));
        return;
    }
    const Device& device = list[static_cast<std::size_t>(id_)];
    queue_.clear();
    midi_->openPort(device.index, "in");
    const std::string failure = takeRtError();
    if (!failure.empty() || !midi_->isPortOpen()) {
        if (midi_->isPortOpen()) midi_->closePort();
        post(MidiError::OpenFailed, QStringLiteral("The MIDI input %1 could not be opened: %2")
                                        .arg(QString::fromStdString(device.name), QString::fromStdString(failure)));
        return;
    }
    state_ = Opened;
}

void RtMidiInput::close()
{
    if (state_ == Closed) return;
    queue_.setDelivering(false);
    if (midi_ && midi_->isPortOpen()) midi_->closePort();
    takeRtError();
    queue_.clear();
    state_ = Closed;
}

void RtMidiInput::start()
{
    if (state_ == Closed) return;  // as after a failed open, which has been reported already
    state_ = Delivering;
    queue_.setDelivering(true);
    if (queue_.count() > 0) QMetaObject::invokeMethod(&events_, [this] { wake(); }, Qt::QueuedConnection);
}

void RtMidiInput::wake()
{
    const bool waiting = queue_.takeWake();
    if (const std::size_t lost = queue_.takeOverflow())
        raiseError(code(MidiError::InputOverflow),
                   QStringLiteral("%1 incoming MIDI messages were lost because they were not collected in time.")
                       .arg(lost));
    // A port that a stopped server closed still hands over what had arrived whole
    // (closing it by command empties the queue); a port merely stopped keeps it.
    if (waiting && state_ != Opened) raiseMessage();
}

void RtMidiInput::onJackStopped()
{
    if (state_ == Closed) return;
    // Messages that arrived whole stay for the reader: the message event that is
    // draining them may be the very one whose yield brought this news.
    queue_.setDelivering(false);
    state_ = Closed;
    const bool first = !midiJack_ || midiJack_->claimStopReport();
    post(first ? MidiError::ServerStopped : MidiError::Notice,
         QStringLiteral("The JACK server stopped, so the MIDI input was closed."));
}

void RtMidiInput::setSysexBufferSize(std::int32_t bytes)
{
    if (bytes < 1) {
        post(MidiError::InvalidValue, QStringLiteral("A System Exclusive buffer of %1 bytes cannot hold anything.").arg(bytes));
        return;
    }
    queue_.setSysexBufferSize(static_cast<std::size_t>(bytes));
}

void RtMidiInput::setFilter(int status, bool drop)
{
    if (status < 0 || status > 255) {
        post(MidiError::InvalidValue, QStringLiteral("%1 is not a MIDI status byte.").arg(status));
        return;
    }
    queue_.setFilter(static_cast<unsigned char>(status), drop);
}

std::int16_t RtMidiInput::MessageCount() const
{
    return static_cast<std::int16_t>(std::min<std::size_t>(queue_.count(), MidiInputQueue::MaxMessages));
}

ByteString RtMidiInput::MessageData() const
{
    return queue_.front();
}

void RtMidiInput::post(MidiError error, const QString& text)
{
    QMetaObject::invokeMethod(&events_, [this, error, text] { raiseError(code(error), text); }, Qt::QueuedConnection);
}

std::string RtMidiInput::takeRtError() const
{
    std::lock_guard lock(rtErrorMutex_);
    return std::exchange(rtError_, std::string());
}

}  // namespace tandrel
