// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/testing/FakeMIDIPorts.h"

namespace tandrel::testing {

namespace {
std::string entry(const char* port, const char* member, long long value)
{
    return std::string(port) + "." + member + "=" + std::to_string(value);
}
}  // namespace

void FakeMIDIInput::setCommand(std::int16_t code)
{
    log_.add(entry("in", "Command", code));
    switch (code) {
    case Open: state = Opened; break;
    case Close: state = Closed; break;
    case Start: if (state != Closed) state = Delivering; break;
    case Stop: if (state != Closed) state = Opened; break;
    case DiscardOldest: if (!waiting.empty()) waiting.pop_front(); break;
    default: break;
    }
}

std::int16_t FakeMIDIInput::DeviceCount() const
{
    ++deviceQueries;
    return static_cast<std::int16_t>(deviceNames.size());
}

void FakeMIDIInput::setDeviceID(std::int16_t id)
{
    log_.add(entry("in", "DeviceID", id));
    deviceID = id;
}

QString FakeMIDIInput::DeviceName() const
{
    ++deviceQueries;
    return deviceID >= 0 && deviceID < deviceNames.size() ? deviceNames[deviceID] : QString();
}

QString FakeMIDIInput::openDevice() const
{
    return state != Closed && deviceID >= 0 && deviceID < deviceNames.size() ? deviceNames[deviceID] : QString();
}

void FakeMIDIInput::setSysexBufferSize(std::int32_t bytes)
{
    log_.add(entry("in", "SysexBufferSize", bytes));
    sysexBufferSize = bytes;
}

void FakeMIDIInput::setFilter(int status, bool drop)
{
    log_.add("in.Filter(" + std::to_string(status) + ")=" + (drop ? "1" : "0"));
    filters[status] = drop;
}

std::int16_t FakeMIDIInput::MessageCount() const
{
    return scriptedMessageCount ? *scriptedMessageCount : static_cast<std::int16_t>(waiting.size());
}

const ByteString& FakeMIDIInput::MessageData() const
{
    static const ByteString none;
    return waiting.empty() ? none : waiting.front();
}

void FakeMIDIInput::deliver(std::vector<ByteString> messages)
{
    for (auto& m : messages)
        waiting.push_back(std::move(m));
    raiseMessage();
}

void FakeMIDIOutput::setCommand(std::int16_t code)
{
    log_.add(entry("out", "Command", code));
    switch (code) {
    case Open: state = Opened; break;
    case Close: state = Closed; break;
    case Transmit: sent.push_back(messageData); break;
    default: break;
    }
}

std::int16_t FakeMIDIOutput::DeviceCount() const
{
    ++deviceQueries;
    return static_cast<std::int16_t>(deviceNames.size());
}

void FakeMIDIOutput::setDeviceID(std::int16_t id)
{
    log_.add(entry("out", "DeviceID", id));
    deviceID = id;
}

QString FakeMIDIOutput::DeviceName() const
{
    ++deviceQueries;
    if (deviceID == MidiMapper)
        return mapperName;
    return deviceID >= 0 && deviceID < deviceNames.size() ? deviceNames[deviceID] : QString();
}

QString FakeMIDIOutput::openDevice() const
{
    if (state == Closed)
        return {};
    if (deviceID == MidiMapper)
        return mapperName;
    return deviceID >= 0 && deviceID < deviceNames.size() ? deviceNames[deviceID] : QString();
}

void FakeMIDIOutput::setMessageStatus(std::int16_t status)
{
    log_.add(entry("out", "MessageStatus", status));
}

void FakeMIDIOutput::setMessageData(const ByteString& bytes)
{
    log_.add("out.MessageData=" + std::to_string(bytes.size()) + " bytes");
    messageData = bytes;
}

}  // namespace tandrel::testing
