// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/RtMidiInput.h"

#include <RtMidi.h>

#include <algorithm>

namespace tandrel {

// On RtMidi's thread (JACK's realtime thread): into the ring, never waiting on the reader.
void RtMidiInput::onMessage(double, std::vector<unsigned char>* bytes, void* self)
{
    if (!bytes->empty()) static_cast<RtMidiInput*>(self)->handOver_.write(bytes->data(), bytes->size());
}

// On the ALSA reader's thread, or the hand-over's relay.
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
    : handOver_(queue_, [this] { QMetaObject::invokeMethod(&events_, [this] { wake(); }, Qt::QueuedConnection); }),
      client_(
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
        lastArrival_ = {};
        if (state_ == Delivering) {
            handOver_.drain();  // what came before the stop is kept
            queue_.setDelivering(false);
            state_ = Opened;
        }
        break;
    case DiscardOldest:
        if (holding_) {
            holding_ = false;
            current_.clear();
        } else {
            queue_.pop();
        }
        break;
    default: post(MidiError::InvalidValue, QStringLiteral("The MIDI input has no command %1.").arg(code));
    }
}

void RtMidiInput::open()
{
    close();
    // RtMidi's JACK input keeps a System Exclusive message it was building across
    // closePort, and would glue that head to whatever the next port delivers.
    RtMidiIn* midi = client_.get() && client_.jack() ? static_cast<RtMidiIn*>(client_.remake()) : this->midi();
    if (!midi) {
        if (const auto why = client_.whyUnavailable(QStringLiteral("input"))) post(why->first, why->second);
        return;
    }
    const auto device = client_.device(id_);
    if (!device) {
        // A negative number is no device at all: none was listed, or the one chosen is gone.
        post(MidiError::NoSuchDevice,
             id_ < 0 ? QStringLiteral("No MIDI input device is chosen. Click Setup to choose one.")
                     : QStringLiteral("MIDI input device %1 is not there (%2 input devices found).")
                           .arg(id_)
                           .arg(client_.deviceCount()));
        return;
    }
    handOver_.discard();  // the old RtMidi object's last messages
    queue_.clear();
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
    handOver_.start();
    midi->openPort(device->index, "in");
    std::string failure = client_.takeError();
    if (failure.empty() && midi->isPortOpen() && !client_.connectedTo(*device))
        failure = "the MIDI system did not connect to it";
    if (!failure.empty() || !midi->isPortOpen()) {
        if (midi->isPortOpen()) midi->closePort();
        post(MidiError::OpenFailed, QStringLiteral("The MIDI input %1 could not be opened: %2")
                                        .arg(QString::fromStdString(device->name), QString::fromStdString(failure)));
        return;
    }
    if (const auto& jack = client_.jack())
        xrunConnection_ = QObject::connect(jack.get(), &JackMonitor::xrun, &events_, [this] { onXrun(); });
    state_ = Opened;
}

void RtMidiInput::close()
{
    if (state_ == Closed) return;
    QObject::disconnect(xrunConnection_);
    queue_.setDelivering(false);
    if (alsa_) alsa_->close();
    if (RtMidi* midi = client_.get(); midi && midi->isPortOpen()) midi->closePort();
    client_.takeError();
    handOver_.discard();
    queue_.clear();
    holding_ = false;
    current_.clear();
    lastArrival_ = {};
    state_ = Closed;
}

void RtMidiInput::start()
{
    if (state_ == Closed) return;  // as after a failed open, which has been reported already
    state_ = Delivering;
    handOver_.drain();  // what came while stopped is dropped, as it always was
    queue_.setDelivering(true);
    if (holding_ || queue_.count() > 0) QMetaObject::invokeMethod(&events_, [this] { wake(); }, Qt::QueuedConnection);
}

void RtMidiInput::wake()
{
    const bool waiting = queue_.takeWake() || holding_;
    if (waiting && state_ == Delivering) lastArrival_ = std::chrono::steady_clock::now();
    if (const std::size_t lost = queue_.takeOverflow())
        raiseError(code(MidiError::InputOverflow),
                   QStringLiteral("%1 incoming MIDI messages were lost because they were not collected in time.")
                       .arg(lost));
    if (const auto lost = queue_.takeLoss()) {
        const QString what = *lost ? QStringLiteral("%1 incoming MIDI messages").arg(*lost)
                                   : QStringLiteral("some incoming MIDI data");
        raiseError(code(MidiError::InputLost),
                   QStringLiteral("The MIDI system lost %1, so the dump may be incomplete. "
                                  "Click Receive to receive it again.")
                       .arg(what));
    }
    // A port that a stopped server closed still hands over what had arrived whole
    // (closing it by command empties the queue); a port merely stopped keeps it.
    if (waiting && state_ != Opened) raiseMessage();
}

// JACK dropped the MIDI of the cycles it missed, if any came. Only while a dump is
// coming in does that matter: a busy machine misses cycles at other times too.
void RtMidiInput::onXrun()
{
    using namespace std::chrono_literals;
    if (state_ != Delivering || lastArrival_ == std::chrono::steady_clock::time_point{}
        || std::chrono::steady_clock::now() - lastArrival_ > 1s)
        return;
    queue_.noteLoss(0);
    wake();
}

void RtMidiInput::onJackStopped()
{
    if (state_ == Closed) return;
    // Messages that arrived whole stay for the reader: the message event that is
    // draining them may be the very one whose yield brought this news.
    handOver_.drain();
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
    handOver_.drain();  // messages meet the filter they arrived under
    queue_.setFilter(static_cast<unsigned char>(status), drop);
}

std::int16_t RtMidiInput::MessageCount() const
{
    return static_cast<std::int16_t>(
        std::min<std::size_t>(queue_.count() + (holding_ ? 1 : 0), MidiInputQueue::MaxMessages));
}

const ByteString& RtMidiInput::MessageData() const
{
    if (!holding_) holding_ = queue_.popFront(current_);
    return current_;  // empty when nothing waits
}

void RtMidiInput::post(MidiError error, const QString& text)
{
    QMetaObject::invokeMethod(&events_, [this, error, text] { raiseError(code(error), text); }, Qt::QueuedConnection);
}

}  // namespace tandrel
