// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/AlsaSeqReader.h"
#include "platform/MIDIInput.h"
#include "platform/MidiErrors.h"
#include "platform/MidiInputQueue.h"
#include "platform/RealtimeHandOver.h"
#include "platform/RtMidiClient.h"

#include <QObject>

#include <chrono>
#include <memory>

class RtMidiIn;

namespace tandrel {

//! The production input port, on RtMidi over the ALSA sequencer or JACK.
//! On JACK, RtMidi's realtime thread only copies each message into a lock-free ring;
//! a relay thread moves them into the queue and posts one wake-up, from which the
//! Message event is raised on the user-interface thread.
//! On ALSA the devices are RtMidi's, but an AlsaSeqReader reads them: RtMidi's
//! ALSA input drops events under a long dump and does not say so.
class RtMidiInput : public MIDIInput {
public:
    //! The client under the port, for making it ahead of need.
    RtMidiClient& client() { return client_; }
    RtMidiInput();
    ~RtMidiInput() override;
    RtMidiInput(const RtMidiInput&) = delete;
    RtMidiInput& operator=(const RtMidiInput&) = delete;

    std::int16_t State() const override { return state_; }
    void setCommand(std::int16_t code) override;
    std::int16_t DeviceCount() const override;
    void setDeviceID(std::int16_t id) override { id_ = id; }
    std::int16_t DeviceID() const override { return id_; }
    QString DeviceName() const override;
    void setSysexBufferSize(std::int32_t bytes) override;
    void setFilter(int status, bool drop) override;
    std::int16_t MessageCount() const override;
    const ByteString& MessageData() const override;

private:
    static void onMessage(double, std::vector<unsigned char>* bytes, void* self);
    void deliver(const unsigned char* bytes, std::size_t size);
    void onLoss(std::size_t events);

    RtMidiIn* midi() const;
    void open();
    void close();
    void start();
    void wake();
    void onJackStopped();
    void onXrun();
    void post(MidiError error, const QString& text);

    mutable MidiInputQueue queue_;  //!< MessageData takes the oldest message out of it
    QObject events_;  //!< lives on the user-interface thread; posted events die with it
    QMetaObject::Connection xrunConnection_;
    RealtimeHandOver handOver_;  //!< outlives RtMidi's thread; its relay goes before the queue
    mutable RtMidiClient client_;  //!< goes first, and RtMidi's thread with it
    std::int16_t state_ = Closed;
    std::int16_t id_ = 0;
    //! The oldest message, taken out of the queue by MessageData, until `Command` 6
    //! drops it: read as often as the reader likes without a copy, and without
    //! holding the queue's lock while it is read.
    mutable ByteString current_;
    mutable bool holding_ = false;
    //! When messages were last found waiting while delivering; none after a stop.
    std::chrono::steady_clock::time_point lastArrival_;
    std::unique_ptr<AlsaSeqReader> alsa_;  //!< goes before anything its thread hands over to
};

}  // namespace tandrel
