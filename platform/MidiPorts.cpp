// SPDX-License-Identifier: GPL-3.0-or-later
// Placeholder ports until the RtMidi ports land: no devices, and one Error on the
// first open saying that no MIDI system is connected.
#include "platform/MidiPorts.h"

namespace tandrel {
namespace {

class NoMidiInput : public MIDIInput {
public:
    std::int16_t State() const override { return state_; }
    void setCommand(std::int16_t code) override
    {
        if (code == Open && !told_) {
            told_ = true;
            raiseError(1, QStringLiteral("No MIDI system is connected."));
        }
        if (code == Open) state_ = Opened;
        if (code == Close) state_ = Closed;
        if (code == Start && state_) state_ = Delivering;
        if (code == Stop && state_) state_ = Opened;
    }
    std::int16_t DeviceCount() const override { return 0; }
    void setDeviceID(std::int16_t id) override { id_ = id; }
    std::int16_t DeviceID() const override { return id_; }
    QString DeviceName() const override { return {}; }
    void setSysexBufferSize(std::int32_t) override {}
    void setFilter(int, bool) override {}
    std::int16_t MessageCount() const override { return 0; }
    ByteString MessageData() const override { return {}; }

private:
    std::int16_t state_ = Closed, id_ = 0;
    bool told_ = false;
};

class NoMidiOutput : public MIDIOutput {
public:
    std::int16_t State() const override { return state_; }
    void setCommand(std::int16_t code) override
    {
        if (code == Open) state_ = Opened;
        if (code == Close) state_ = Closed;
    }
    std::int16_t DeviceCount() const override { return 0; }
    void setDeviceID(std::int16_t id) override { id_ = id; }
    std::int16_t DeviceID() const override { return id_; }
    QString DeviceName() const override { return id_ == MidiMapper ? QStringLiteral("Tandrel") : QString(); }
    void setMessageStatus(std::int16_t) override {}
    void setMessageData(const ByteString& b) override { data_ = b; }
    ByteString MessageData() const override { return data_; }

private:
    std::int16_t state_ = Closed, id_ = 0;
    ByteString data_;
};

}  // namespace

std::unique_ptr<MIDIInput> CreateMIDIInput() { return std::make_unique<NoMidiInput>(); }
std::unique_ptr<MIDIOutput> CreateMIDIOutput() { return std::make_unique<NoMidiOutput>(); }

}  // namespace tandrel
