// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/ByteString.h"

#include <QString>

#include <cstdint>
#include <functional>

namespace tandrel {

//! The MIDI input port control (`MIDIInput1`): an outside component driven through
//! its members. Its events are raised on the user-interface thread, between the
//! program's own handlers.
class MIDIInput {
public:
    //! Codes written to `Command`.
    enum : std::int16_t { Open = 1, Close = 2, Start = 4, Stop = 5, DiscardOldest = 6 };
    //! Values read from `State`.
    enum : std::int16_t { Closed = 0, Opened = 1, Delivering = 2 };

    virtual ~MIDIInput() = default;

    virtual std::int16_t State() const = 0;
    virtual void setCommand(std::int16_t code) = 0;
    //! Devices are numbered 0 … DeviceCount()−1.
    virtual std::int16_t DeviceCount() const = 0;
    virtual void setDeviceID(std::int16_t id) = 0;
    virtual std::int16_t DeviceID() const = 0;
    //! The name of the device that DeviceID() designates.
    virtual QString DeviceName() const = 0;
    //! Largest System Exclusive message delivered whole; longer ones arrive in pieces.
    virtual void setSysexBufferSize(std::int32_t bytes) = 0;
    //! True: messages with this status byte are dropped; false: passed.
    virtual void setFilter(int status, bool drop) = 0;
    virtual std::int16_t MessageCount() const = 0;
    //! The complete bytes of the oldest waiting message, status byte first; empty when
    //! nothing waits. Reading does not remove it: `Command` 6 does. The reference
    //! holds until the next command, so a reader copies only what it keeps.
    virtual const ByteString& MessageData() const = 0;

    //! Event handlers, set by the window that owns the port.
    struct Events {
        std::function<void()> Message;
        std::function<void(std::int16_t ErrorCode, const QString& ErrorMessage)> Error;
    } events;

protected:
    void raiseMessage() { if (events.Message) events.Message(); }
    void raiseError(std::int16_t code, const QString& text) { if (events.Error) events.Error(code, text); }
};

}  // namespace tandrel
