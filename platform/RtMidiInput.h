// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/AlsaSeqReader.h"
#include "platform/MIDIInput.h"
#include "platform/MidiErrors.h"
#include "platform/MidiInputQueue.h"
#include "platform/RtMidiClient.h"

#include <QObject>

#include <memory>

class RtMidiIn;

namespace tandrel {

//! The production input port, on RtMidi over the ALSA sequencer or JACK.
//! RtMidi's thread only copies each message into the queue and posts one wake-up;
//! the Message event is raised from that wake-up on the user-interface thread.
//! On ALSA the devices are RtMidi's, but an AlsaSeqReader reads them: RtMidi's
//! ALSA input drops events under a long dump and does not say so.
class RtMidiInput : public MIDIInput {
public:
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
    ByteString MessageData() const override;

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
    void post(MidiError error, const QString& text);

    MidiInputQueue queue_;
    QObject events_;  //!< lives on the user-interface thread; posted events die with it
    mutable RtMidiClient client_;  //!< goes first, and RtMidi's thread with it
    std::int16_t state_ = Closed;
    std::int16_t id_ = 0;
    bool lossReported_ = false;  //!< once per opening: the dump is incomplete either way
    std::unique_ptr<AlsaSeqReader> alsa_;  //!< goes before anything its thread hands over to
};

}  // namespace tandrel
