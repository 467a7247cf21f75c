// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/MIDIInput.h"
#include "platform/MIDIOutput.h"
#include "platform/testing/CallLog.h"

#include <QStringList>

#include <deque>
#include <map>
#include <optional>
#include <vector>

namespace tandrel::testing {

//! An input port that behaves like the component (State follows Command, the
//! queue drains with Command 6) and records every member it is asked for that
//! changes something: "in.Command=1", "in.DeviceID=0", "in.Filter(249)=1", …
//! Reads of State, MessageCount and MessageData are counted, not logged.
class FakeMIDIInput : public MIDIInput {
public:
    explicit FakeMIDIInput(CallLog& log) : log_(log) {}

    std::int16_t State() const override { ++stateReads; return state; }
    void setCommand(std::int16_t code) override;
    std::int16_t DeviceCount() const override;
    void setDeviceID(std::int16_t id) override;
    std::int16_t DeviceID() const override { return deviceID; }
    QString DeviceName() const override;
    void setSysexBufferSize(std::int32_t bytes) override;
    void setFilter(int status, bool drop) override;
    std::int16_t MessageCount() const override;
    const ByteString& MessageData() const override;

    //! Puts a message in the queue, as if it had arrived (no event is raised).
    void queue(ByteString message) { waiting.push_back(std::move(message)); }
    //! Queues the messages and raises the Message event.
    void deliver(std::vector<ByteString> messages);
    void fireError(std::int16_t code, const QString& text) { raiseError(code, text); }
    //! The name of the device the port is open on; empty when it is closed or its
    //! DeviceID names no listed device (the component refuses to open those).
    QString openDevice() const;

    std::int16_t state = Closed;
    std::int16_t deviceID = 0;
    std::int32_t sysexBufferSize = 0;
    //! The devices the MIDI system lists, in its order. Assign another list to
    //! play a device plugged in, pulled out or listed elsewhere between two starts.
    QStringList deviceNames{QStringLiteral("Fake In A"), QStringLiteral("Fake In B")};
    std::map<int, bool> filters;
    std::deque<ByteString> waiting;
    //! When set, MessageCount reports this instead of the queue's size.
    std::optional<std::int16_t> scriptedMessageCount;
    mutable int stateReads = 0;
    mutable int deviceQueries = 0;  //!< DeviceCount and DeviceName reads

private:
    CallLog& log_;
};

//! An output port that behaves like the component and records "out.Command=7",
//! "out.MessageStatus=240", "out.DeviceID=-1", … Every transmitted message is kept
//! in `sent`.
class FakeMIDIOutput : public MIDIOutput {
public:
    explicit FakeMIDIOutput(CallLog& log) : log_(log) {}

    std::int16_t State() const override { return state; }
    void setCommand(std::int16_t code) override;
    std::int16_t DeviceCount() const override;
    void setDeviceID(std::int16_t id) override;
    std::int16_t DeviceID() const override { return deviceID; }
    QString DeviceName() const override;
    void setMessageStatus(std::int16_t status) override;
    void setMessageData(const ByteString& bytes) override;
    ByteString MessageData() const override { return messageData; }

    void fireError(std::int16_t code, const QString& text) { raiseError(code, text); }
    //! As FakeMIDIInput::openDevice; the mapper's name when it is open on device −1.
    QString openDevice() const;

    std::int16_t state = Closed;
    std::int16_t deviceID = 0;
    //! Devices 0 … as FakeMIDIInput::deviceNames; device −1 is `mapperName`.
    QStringList deviceNames{QStringLiteral("Fake Out A"), QStringLiteral("Fake Out B")};
    QString mapperName = QStringLiteral("Fake Mapper");
    ByteString messageData;
    std::vector<ByteString> sent;
    mutable int deviceQueries = 0;

private:
    CallLog& log_;
};

}  // namespace tandrel::testing
