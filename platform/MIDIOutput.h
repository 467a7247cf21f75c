// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/ByteString.h"

#include <QString>

#include <cstdint>
#include <functional>

namespace tandrel {

//! The MIDI output port control (`MIDIOutput1`): an outside component driven through
//! its members. Its events are raised on the user-interface thread.
class MIDIOutput {
public:
    //! Codes written to `Command`.
    enum : std::int16_t { Open = 1, Close = 2, Transmit = 7 };
    //! Values read from `State`.
    enum : std::int16_t { Closed = 0, Opened = 1 };
    //! Device −1 is the system's MIDI mapper.
    static constexpr std::int16_t MidiMapper = -1;

    virtual ~MIDIOutput() = default;

    virtual std::int16_t State() const = 0;
    virtual void setCommand(std::int16_t code) = 0;
    //! Devices are numbered −1 … DeviceCount()−1.
    virtual std::int16_t DeviceCount() const = 0;
    virtual void setDeviceID(std::int16_t id) = 0;
    virtual std::int16_t DeviceID() const = 0;
    virtual QString DeviceName() const = 0;
    //! Status byte of the message the next transmission carries (always 240 here).
    virtual void setMessageStatus(std::int16_t status) = 0;
    //! The bytes that `Command` 7 transmits; read back afterwards it gives what was
    //! handed over.
    virtual void setMessageData(const ByteString& bytes) = 0;
    virtual ByteString MessageData() const = 0;

    struct Events {
        std::function<void(std::int16_t ErrorCode, const QString& ErrorMessage)> Error;
        std::function<void()> QueueEmpty;
    } events;

protected:
    void raiseError(std::int16_t code, const QString& text) { if (events.Error) events.Error(code, text); }
    void raiseQueueEmpty() { if (events.QueueEmpty) events.QueueEmpty(); }
};

}  // namespace tandrel
