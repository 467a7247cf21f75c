// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/RtMidiInput.h"

#include <RtMidi.h>

#include <algorithm>

namespace tandrel {

// On RtMidi's thread (JACK's realtime thread): copy, and wake the reader once.
void RtMidiInput::onMessage(double, std::vector<unsigned char>* bytes, void* self)
{
    if (!bytes->empty()) static_cast<RtMidiInput*>(self)->deliver(bytes->data(), bytes->size());
}

// On the MIDI system's thread.
void RtMidiInput::deliver(const unsigned char* bytes, std::size_t size)
{
    if (queue_.push(bytes, size)) QMetaObject::invokeMethod(&events_, [this] { wake(); }, Qt::QueuedConnection);
}

// On the MIDI system's thread: the reader says so from the user-interface thread.
void RtMidiInput::onLoss(std::size_t events)
{
    queue_.noteLoss(events);
    QMetaObject::invokeMethod(&events_, [this] { wake(); }, Qt::QueuedConnection);
}

RtMidiInput::RtMidiInput()
    : client_(
          [this](MidiBackend::Api api) {
              auto midi = std::make_shared<RtMidiIn>(api == MidiBackend::Api::Alsa ? RtMidi::LINUX_ALSA
                                                                                   : RtMidi::UNIX_JACK,
                                                     MidiBackend::inputClientName());
              midi->ignoreTypes(false, false, false);  // the filter alone decides
              midi->setCallback(&RtMidiInput::onMessage, this);
              return midi;
          },
          &events_, [this] { onJackStopped(); }, [this] { onJackStopped(); })
{
}

RtMidiInput::~RtMidiInput() = default;

RtMidiIn* RtMidiInput::midi() const
{
    return static_cast<RtMidiIn*>(client_.ensure());
}

std::int16_t RtMidiInput::DeviceCount() const
{
    return client_.deviceCount();
}

QString RtMidiInput::DeviceName() const
{
    const auto device = client_.device(id_);
    return device ? QString::fromStdString(device->name) : QString();
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
    RtMidiIn* midi = this->midi();
    if (!midi) {
        if (const auto why = client_.whyUnavailable(QStringLiteral("input"))) post(why->first, why->second);
        return;
    }
    const auto device = client_.device(id_);
    if (!device) {
        post(MidiError::NoSuchDevice, QStringLiteral("MIDI input device %1 is not there (%2 input devices found).")
                                          .arg(id_)
                                          .arg(client_.deviceCount()));
        return;
    }
    queue_.clear();
    lossReported_ = false;
    if (client_.backend().api() == MidiBackend::Api::Alsa) {
        if (!alsa_)
            alsa_ = std::make_unique<AlsaSeqReader>([this](const unsigned char* bytes, std::size_t size) { deliver(bytes, size); },
                                                    [this](std::size_t events) { onLoss(events); });
        int client = 0, port = 0;
        std::string failure = "it has no sequencer address";
        if (!AlsaSeqReader::addressOf(device->name, &client, &port) ||
            !alsa_->open(MidiBackend::inputClientName(), client, port, &failure)) {
            post(MidiError::OpenFailed, QStringLiteral("The MIDI input %1 could not be opened: %2")
                                            .arg(QString::fromStdString(device->name), QString::fromStdString(failure)));
            return;
        }
        state_ = Opened;
        return;
    }
    midi->openPort(device->index, "in");
    const std::string failure = client_.takeError();
    if (!failure.empty() || !midi->isPortOpen()) {
        if (midi->isPortOpen()) midi->closePort();
        post(MidiError::OpenFailed, QStringLiteral("The MIDI input %1 could not be opened: %2")
                                        .arg(QString::fromStdString(device->name), QString::fromStdString(failure)));
        return;
    }
    state_ = Opened;
}

void RtMidiInput::close()
{
    if (state_ == Closed) return;
    queue_.setDelivering(false);
    if (alsa_) alsa_->close();
    if (RtMidi* midi = client_.get(); midi && midi->isPortOpen()) midi->closePort();
    client_.takeError();
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
    if (const std::size_t lost = queue_.takeLoss(); lost > 0 && !lossReported_ && state_ != Closed) {
        lossReported_ = true;
        raiseError(code(MidiError::InputOverflow),
                   QStringLiteral("The MIDI system dropped part of the incoming data, so the dump received is "
                                  "incomplete. Click Receive and send the dump again."));
    }
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
    const bool first = !client_.jack() || client_.jack()->claimStopReport();
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

}  // namespace tandrel
