// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/RtMidiOutput.h"

#include <RtMidi.h>

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <thread>

namespace tandrel {
namespace {

using Clock = OutputPacer::Clock;
using namespace std::chrono_literals;

// JACK: RtMidi's ring buffer holds 16 KB and its sendMessage spins when it is full,
// and a burst of more than about 32 KB in one cycle is lost; a window of 8 KB in
// flight stays clear of both.
constexpr std::size_t JackWindow = 8192;
// ALSA's sequencer does not block: fast pacing stays well inside what its pool takes.
constexpr std::size_t AlsaFastRate = 1000000;
// Cycles that stop for this long mean a server that no longer answers. A peer
// killed in the middle of a transfer holds the cycles for about five seconds
// while JACK gives up on it: that is not the server's end.
constexpr auto StallLimit = 10s;

// A wait for room at fast pacing this short is slept through outside the event loop.
constexpr auto ShortWait = 20ms;

const QString NotOpen = QStringLiteral("The MIDI output is not open, so nothing can be sent to it.");
const QString JackGone = QStringLiteral("The JACK server stopped, so the MIDI output was closed.");

}  // namespace

RtMidiOutput::RtMidiOutput()
    : client_(
          [](MidiBackend::Api api) {
              return std::make_shared<RtMidiOut>(api == MidiBackend::Api::Alsa ? RtMidi::LINUX_ALSA : RtMidi::UNIX_JACK,
                                                 MidiBackend::outputClientName());
          },
          &events_,
          [this] {
              if (state_ != Closed) markClosed(JackGone);
          },
          [this] { onJackStopped(); })
{
    queueEmptyTimer_.setSingleShot(true);
    wake_.setSingleShot(true);
    wake_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&queueEmptyTimer_, &QTimer::timeout, &events_, [this] { checkQueueEmpty(queueEmptySerial_); });
    const QString pacing = qEnvironmentVariable("TANDREL_MIDI_PACING").trimmed().toLower();
    if (pacing == QLatin1String("fast")) pacer_.setMode(OutputPacer::Mode::Fast);
    bool ok = false;
    const int pauseMs = qEnvironmentVariableIntValue("TANDREL_MIDI_PAUSE_MS", &ok);
    if (ok && pauseMs >= 0) pacer_.setPause(std::chrono::milliseconds(pauseMs));
}

RtMidiOutput::~RtMidiOutput()
{
    life_.reset();
    if (state_ != Closed) drain(200ms);
}

RtMidiOut* RtMidiOutput::midi() const
{
    return static_cast<RtMidiOut*>(client_.ensure());
}

std::int16_t RtMidiOutput::DeviceCount() const
{
    return client_.deviceCount();
}

QString RtMidiOutput::DeviceName() const
{
    if (id_ == MidiMapper) return QString::fromLatin1(MidiBackend::virtualPortName());
    const auto device = client_.device(id_);
    return device ? QString::fromStdString(device->name) : QString();
}

void RtMidiOutput::setCommand(std::int16_t code)
{
    switch (code) {
    case Open: open(); break;
    case Close: close(); break;
    case Transmit: transmit(); break;
    default: post(MidiError::InvalidValue, QStringLiteral("The MIDI output has no command %1.").arg(code));
    }
}

void RtMidiOutput::open()
{
    close();
    sendQuiet_ = false;
    closedBecause_.clear();
    // RtMidi's ALSA output keeps the first port it made: closePort only unsubscribes,
    // so the virtual port would keep its listeners after a device is chosen, or be
    // named after the device port made before it. A new object starts with none.
    const bool virtualPort = id_ == MidiMapper;
    RtMidiOut* midi = openedVirtual_ && *openedVirtual_ != virtualPort && client_.get()
        ? static_cast<RtMidiOut*>(client_.remake())
        : this->midi();
    if (!midi) {
        if (const auto why = client_.whyUnavailable(QStringLiteral("output"))) post(why->first, why->second);
        return;
    }
    QString name = QString::fromLatin1(MidiBackend::virtualPortName());
    std::optional<MidiDevice> device;
    if (virtualPort) {
        midi->openVirtualPort(MidiBackend::virtualPortName());
    } else {
        device = client_.device(id_);
        if (!device) {
            post(MidiError::NoSuchDevice,
                 id_ < MidiMapper ? QStringLiteral("No MIDI output device is chosen. Click Setup to choose one.")
                                  : QStringLiteral("MIDI output device %1 is not there (%2 output devices found).")
                                        .arg(id_)
                                        .arg(client_.deviceCount()));
            return;
        }
        name = QString::fromStdString(device->name);
        midi->openPort(device->index, "out");
    }
    openedVirtual_ = virtualPort;
    std::string failure = client_.takeError();
    if (failure.empty() && device && !client_.connectedTo(*device)) failure = "the MIDI system did not connect to it";
    if (!failure.empty()) {
        midi->closePort();
        client_.takeError();
        post(MidiError::OpenFailed,
             QStringLiteral("The MIDI output %1 could not be opened: %2").arg(name, QString::fromStdString(failure)));
        return;
    }
    pacer_.reset();
    if (const auto& jack = client_.jack()) {
        pacer_.useCycles(jack->period(), JackWindow);
    } else {
        pacer_.useCycles(0us, 0);
        pacer_.setFastRate(AlsaFastRate);
    }
    state_ = Opened;
    ++serial_;
}

void RtMidiOutput::close()
{
    if (state_ == Closed) return;
    drain(200ms);  // what was handed over goes out before the port does
    if (RtMidi* midi = client_.get()) midi->closePort();
    client_.takeError();
    state_ = Closed;
    ++serial_;
    queue_.clear();
    sendQuiet_ = false;
}

void RtMidiOutput::markClosed(const QString& because)
{
    state_ = Closed;
    ++serial_;
    queue_.clear();
    closedBecause_ = because;
}

void RtMidiOutput::transmit()
{
    if (state_ != Opened) {
        reportClosed();
        data_.clear();  // nothing was handed over
        return;
    }
    if (data_.empty()) return;
    queue_.push_back(data_);
    if (pumping_) return;  // a send already under way takes it in turn

    pumping_ = true;
    const std::weak_ptr<int> life = life_;
    std::size_t handed = 0;  // of this call's own message, the first in the queue
    for (bool own = true; !queue_.empty() && state_ == Opened; own = false) {
        const std::uint64_t serial = serial_;
        const ByteString message = std::move(queue_.front());
        queue_.pop_front();
        const std::vector<std::size_t> sizes = OutputPacer::pieces(message.size());
        std::size_t offset = 0;
        for (std::size_t i = 0; i < sizes.size(); offset += sizes[i++]) {
            const bool ok = waitForSlot(sizes[i], serial, life);
            if (life.expired()) return;
            if (!ok) break;  // what is still queued goes to the port as it is now
            if (!sendPiece(message.data() + offset, sizes[i], i + 1 == sizes.size())) {
                queue_.clear();
                break;
            }
            if (own) handed += sizes[i];
        }
    }
    pumping_ = false;
    // MessageData reads back what was handed over, so that a count of it is true.
    if (handed < data_.size()) data_.resize(handed);
    armQueueEmpty();
}

bool RtMidiOutput::waitForSlot(std::size_t size, std::uint64_t serial, const std::weak_ptr<int>& life)
{
    std::uint64_t lastCycles = jack() ? jack()->cycles() : 0;
    Clock::time_point lastProgress = Clock::now();
    for (;;) {
        // Closed, or closed and opened again, during the wait: by the user's Receive,
        // Open or Setup, which is no error, or by the server's end, told already.
        if (serial != serial_) return false;
        if (state_ != Opened) {
            reportClosed();
            return false;
        }
        Clock::time_point now = Clock::now();
        if (jack()) {
            if (!jack()->alive()) {
                markClosed(JackGone);
                reportStopped();
                return false;
            }
            const std::uint64_t cycles = jack()->cycles();
            pacer_.observe(cycles, now);
            if (cycles != lastCycles) {
                lastCycles = cycles;
                lastProgress = now;
            } else if (now - lastProgress > StallLimit) {
                markClosed(QStringLiteral("The JACK server stopped answering, so the MIDI output was closed."));
                reportSendFailure(MidiError::ServerStopped, closedBecause_);
                return false;
            }
        }
        const Clock::time_point start = pacer_.earliestStart();
        if (now >= start && pacer_.fits(size)) return true;

        // Sleeps until the pacer's answer may change, at no cost between.
        const Clock::time_point until = nextChange(size);
        const Clock::duration wait = until - now;
        // The queue is not empty while a message waits: its check would only wake this
        // wait. The end of the hand-over arms it again.
        queueEmptyTimer_.stop();
        queueEmptyArmed_ = false;
        // At fast pacing a full window waits a few JACK cycles for room, dozens of
        // times a second: slept through in one wake-up, and the window's events run at
        // the send's next yield, a few milliseconds later.
        const bool forCycle = until != start && pacer_.mode() == OutputPacer::Mode::Fast;
        if (forCycle && wait <= ShortWait) {
            std::this_thread::sleep_until(until);
        } else if (wait >= 1ms || forCycle) {
            // Longer waits sleep in the event loop, so the window and the ports' events
            // still run while the wire is busy. A wait for a cycle may end up to a
            // millisecond late, as a cycle takes what was handed over at any time before
            // the next one; DIN pacing times its pauses from when it saw the cycles
            // move, so Qt's whole milliseconds wake it a little early to nap the rest.
            wake_.start(forCycle ? std::max(std::chrono::ceil<std::chrono::milliseconds>(wait), std::chrono::milliseconds(1))
                                 : std::chrono::floor<std::chrono::milliseconds>(wait));
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
            if (life.expired()) return false;
            wake_.stop();
        } else {
            QCoreApplication::processEvents(QEventLoop::AllEvents);
            if (life.expired()) return false;
            now = Clock::now();
            if (const Clock::time_point until = nextChange(size); until > now)
                std::this_thread::sleep_until(std::min<Clock::time_point>(until, now + 1ms));
        }
        if (life.expired()) return false;
    }
}

Clock::time_point RtMidiOutput::nextChange(std::size_t size) const
{
    const Clock::time_point now = Clock::now();
    const Clock::time_point start = pacer_.earliestStart();
    Clock::time_point next = start > now ? start : Clock::time_point::max();
    // The transport takes what was handed over at its cycles.
    // A full window waits for the cycle that frees enough of it, not for every cycle.
    if ((start == Clock::time_point::max() || !pacer_.fits(size)) && jack())
        next = std::min(next, nextCycle(pacer_.fitsAtCycle(size)));
    return next == Clock::time_point::max() ? now + 1ms : next;
}

Clock::time_point RtMidiOutput::nextCycle(std::uint64_t count) const
{
    const Clock::time_point now = Clock::now();
    JackMonitor* const monitor = jack();
    if (!monitor) return now + 1ms;
    const std::uint64_t cycles = monitor->cycles();
    const auto ahead = static_cast<Clock::duration::rep>(count > cycles ? count - cycles : 1);
    // A little after the cycle's start, once its count has moved; a late server is
    // looked at every millisecond.
    const Clock::duration until = monitor->period() * ahead + 200us;
    const Clock::time_point cycle = monitor->lastCycleAt() + until;
    return cycle > now ? std::min<Clock::time_point>(cycle, now + until) : now + 1ms;
}

bool RtMidiOutput::sendPiece(const char* bytes, std::size_t size, bool endsMessage)
{
    static_cast<RtMidiOut*>(client_.get())->sendMessage(reinterpret_cast<const unsigned char*>(bytes), size);
    // Read after the hand-over: a cycle that starts while the bytes go in must not
    // be taken for the one that carries them, or the next pause comes out short.
    const std::uint64_t cycle = jack() ? jack()->cycles() : 0;
    if (const std::string failure = client_.takeError(); !failure.empty()) {
        reportSendFailure(MidiError::SendFailed,
                          QStringLiteral("The MIDI system refused a message: %1").arg(QString::fromStdString(failure)));
        return false;
    }
    pacer_.sent(size, endsMessage, Clock::now(), cycle);
    return true;
}

void RtMidiOutput::observe()
{
    if (jack()) pacer_.observe(jack()->cycles(), Clock::now());
}

void RtMidiOutput::drain(std::chrono::milliseconds limit)
{
    const Clock::time_point giveUp = Clock::now() + limit;
    for (observe(); pacer_.inFlight() > 0 && jack() && jack()->alive() && Clock::now() < giveUp; observe())
        std::this_thread::sleep_until(std::min(nextCycle(), giveUp));
}

void RtMidiOutput::reportSendFailure(MidiError error, const QString& text)
{
    if (sendQuiet_) return;
    sendQuiet_ = true;
    post(error, text);
}

void RtMidiOutput::reportClosed()
{
    if (closedBecause_.isEmpty()) reportSendFailure(MidiError::PortNotOpen, NotOpen);
    else reportSendFailure(MidiError::ServerStopped, closedBecause_);
}

void RtMidiOutput::armQueueEmpty()
{
    queueEmptyGiveUp_ = Clock::now() + 10s;
    if (queueEmptyArmed_) return;
    queueEmptyArmed_ = true;
    queueEmptySerial_ = serial_;
    queueEmptyTimer_.start(1ms);
}

void RtMidiOutput::checkQueueEmpty(std::uint64_t serial)
{
    queueEmptyArmed_ = false;
    if (serial != serial_ || pumping_ || (jack() && !jack()->alive())) return;
    observe();
    if (pacer_.idle(Clock::now())) {
        raiseQueueEmpty();
    } else if (Clock::now() < queueEmptyGiveUp_) {
        queueEmptyArmed_ = true;
        // On JACK the pacer learns at the cycles that the last piece left; look just after the next one.
        const Clock::duration wait = jack() ? nextCycle() - Clock::now() : Clock::duration(2ms);
        queueEmptySerial_ = serial;
        queueEmptyTimer_.start(std::max(std::chrono::ceil<std::chrono::milliseconds>(wait), 1ms));
    }
}

void RtMidiOutput::onJackStopped()
{
    if (state_ == Closed) return;
    markClosed(JackGone);
    reportStopped();
}

void RtMidiOutput::reportStopped()
{
    // One message box for the server's end, whichever port tells it; sends that
    // follow have nothing new to say. It is news even after a send failure was
    // told, and the turn to tell it is taken only by a port that does.
    sendQuiet_ = true;
    post(!jack() || jack()->claimStopReport() ? MidiError::ServerStopped : MidiError::Notice, JackGone);
}

void RtMidiOutput::post(MidiError error, const QString& text)
{
    QMetaObject::invokeMethod(&events_, [this, error, text] { raiseError(code(error), text); }, Qt::QueuedConnection);
}

}  // namespace tandrel
