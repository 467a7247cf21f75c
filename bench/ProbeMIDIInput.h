// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/MIDIInput.h"

#include <functional>

namespace tandrel::bench {

//! Stands between the main window and the real input port, passing every member
//! and event straight through, and calls `afterMessage` each time the window's
//! message handler has returned, so a harness can time the dump as it is held.
class ProbeMIDIInput : public MIDIInput {
public:
    explicit ProbeMIDIInput(MIDIInput& inner);
    ~ProbeMIDIInput() override;

    std::int16_t State() const override { return inner_.State(); }
    void setCommand(std::int16_t code) override { inner_.setCommand(code); }
    std::int16_t DeviceCount() const override { return inner_.DeviceCount(); }
    void setDeviceID(std::int16_t id) override { inner_.setDeviceID(id); }
    std::int16_t DeviceID() const override { return inner_.DeviceID(); }
    QString DeviceName() const override { return inner_.DeviceName(); }
    void setSysexBufferSize(std::int32_t bytes) override { inner_.setSysexBufferSize(bytes); }
    void setFilter(int status, bool drop) override { inner_.setFilter(status, drop); }
    std::int16_t MessageCount() const override { return inner_.MessageCount(); }
    const ByteString& MessageData() const override { return inner_.MessageData(); }

    std::function<void()> afterMessage;

private:
    MIDIInput& inner_;
};

}  // namespace tandrel::bench
