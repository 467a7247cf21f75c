// SPDX-License-Identifier: GPL-3.0-or-later
#include "HarnessServices.h"

namespace tandrel::bench {

HarnessServices::HarnessServices()
    : realIn_(CreateMIDIInput()), realOut_(CreateMIDIOutput()), in(*realIn_), out(*realOut_),
      services_{in, out, dialog, boxes, settings, folders, beeper, loop}
{
}

std::int16_t HarnessServices::findInputDevice(const QString& part) const
{
    const std::int16_t kept = realIn_->DeviceID();
    std::int16_t found = -2;
    for (std::int16_t id = 0; id < realIn_->DeviceCount() && found == -2; ++id) {
        realIn_->setDeviceID(id);
        if (realIn_->DeviceName().contains(part))
            found = id;
    }
    realIn_->setDeviceID(kept);
    return found;
}

std::int16_t HarnessServices::findOutputDevice(const QString& part) const
{
    const std::int16_t kept = realOut_->DeviceID();
    std::int16_t found = -2;
    for (std::int16_t id = 0; id < realOut_->DeviceCount() && found == -2; ++id) {
        realOut_->setDeviceID(id);
        if (realOut_->DeviceName().contains(part))
            found = id;
    }
    realOut_->setDeviceID(kept);
    return found;
}

}  // namespace tandrel::bench
