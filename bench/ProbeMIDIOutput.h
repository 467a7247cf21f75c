// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/MIDIOutput.h"

#include <cstdint>

namespace tandrel::bench {

//! Stands between the main window and the real output port, passing every member
//! and event straight through, and notes when the transmissions start and end and
//! when the port last reported its queue empty.
class ProbeMIDIOutput : public MIDIOutput {
public:
    explicit ProbeMIDIOutput(MIDIOutput& inner);
    ~ProbeMIDIOutput() override;

    std::int16_t State() const override { return inner_.State(); }
    void setCommand(std::int16_t code) override;
    std::int16_t DeviceCount() const override { return inner_.DeviceCount(); }
    void setDeviceID(std::int16_t id) override { inner_.setDeviceID(id); }
    std::int16_t DeviceID() const override { return inner_.DeviceID(); }
    QString DeviceName() const override { return inner_.DeviceName(); }
    void setMessageStatus(std::int16_t status) override { inner_.setMessageStatus(status); }
    void setMessageData(const ByteString& bytes) override { inner_.setMessageData(bytes); }
    ByteString MessageData() const override { return inner_.MessageData(); }

    std::int64_t firstTransmitNs = 0;    //!< when the first Command 7 was written
    std::int64_t lastTransmitEndNs = 0;  //!< when the last Command 7 returned
    std::int64_t lastQueueEmptyNs = 0;
    std::int64_t transmissions = 0;
    std::int64_t bytesHanded = 0;
    int errors = 0;

private:
    MIDIOutput& inner_;
};

}  // namespace tandrel::bench
