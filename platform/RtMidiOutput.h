// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/MIDIOutput.h"
#include "platform/MidiErrors.h"
#include "platform/OutputPacer.h"
#include "platform/RtMidiClient.h"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <deque>
#include <memory>
#include <optional>

class RtMidiOut;

namespace tandrel {

//! The production output port, on RtMidi over the ALSA sequencer or JACK.
//!
//! `Command` 7 returns once the message has been handed to the MIDI system, paced
//! as OutputPacer says; while it waits it yields to pending events. Device −1 is
//! Tandrel's own virtual port "Tandrel". Pacing is DIN unless TANDREL_MIDI_PACING
//! says "fast"; TANDREL_MIDI_PAUSE_MS sets the pause between messages, with either.
class RtMidiOutput : public MIDIOutput {
public:
    //! The client under the port, for making it ahead of need.
    RtMidiClient& client() { return client_; }
    RtMidiOutput();
    ~RtMidiOutput() override;
    RtMidiOutput(const RtMidiOutput&) = delete;
    RtMidiOutput& operator=(const RtMidiOutput&) = delete;

    std::int16_t State() const override { return state_; }
    void setCommand(std::int16_t code) override;
    std::int16_t DeviceCount() const override;
    void setDeviceID(std::int16_t id) override { id_ = id; }
    std::int16_t DeviceID() const override { return id_; }
    QString DeviceName() const override;
    //! The data carries its own status byte, and goes out as it is.
    void setMessageStatus(std::int16_t) override {}
    void setMessageData(const ByteString& bytes) override { data_ = bytes; }
    ByteString MessageData() const override { return data_; }

    void setPacing(OutputPacer::Mode mode) { pacer_.setMode(mode); }
    OutputPacer::Mode pacing() const { return pacer_.mode(); }
    void setPause(std::chrono::microseconds pause) { pacer_.setPause(pause); }
    std::chrono::microseconds pause() const { return pacer_.pause(); }

private:
    RtMidiOut* midi() const;
    JackMonitor* jack() const { return client_.jack().get(); }
    void open();
    void close();
    void transmit();
    bool waitForSlot(std::size_t size, std::uint64_t serial, const std::weak_ptr<int>& life);
    bool sendPiece(const char* bytes, std::size_t size, bool endsMessage);
    void observe();
    void drain(std::chrono::milliseconds limit);
    //! When the pacer's answer may next change: the start it gave, or, while it
    //! waits for the transport, the next JACK cycle.
    OutputPacer::Clock::time_point nextChange(std::size_t size) const;
    //! Just after the JACK cycle count reaches `count` (the next cycle when it has),
    //! when what is in flight may have moved on.
    OutputPacer::Clock::time_point nextCycle(std::uint64_t count = 0) const;
    void markClosed(const QString& because);
    void reportSendFailure(MidiError error, const QString& text);
    void reportClosed();
    void reportStopped();
    void armQueueEmpty();
    void checkQueueEmpty(std::uint64_t serial);
    void onJackStopped();
    void post(MidiError error, const QString& text);

    OutputPacer pacer_;
    std::deque<ByteString> queue_;  //!< handed over during a send's own waits
    bool pumping_ = false;
    bool sendQuiet_ = false;      //!< a send failure was reported; quiet until the state changes
    QString closedBecause_;       //!< why the port closed by itself, if it did
    std::uint64_t serial_ = 0;    //!< moves on with every open and close
    bool queueEmptyArmed_ = false;
    std::chrono::steady_clock::time_point queueEmptyGiveUp_;
    std::shared_ptr<int> life_ = std::make_shared<int>(0);  //!< tells a send's wait that the port went
    QObject events_;  //!< lives on the user-interface thread; posted events die with it
    //! One timer for the queue-empty checks: a send arms it after every message.
    QTimer queueEmptyTimer_;
    QTimer wake_;  //!< ends a send's wait in the event loop
    std::uint64_t queueEmptySerial_ = 0;
    std::int16_t state_ = Closed;
    std::int16_t id_ = 0;
    std::optional<bool> openedVirtual_;  //!< whether the RtMidi object's port was the virtual one
    ByteString data_;
    mutable RtMidiClient client_;
};

}  // namespace tandrel
