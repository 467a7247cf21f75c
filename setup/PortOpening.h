// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// (Re)opening the ports on the devices held in the settings, as start-up does and
// as opening a dump file does for the output. A device is found by its stored name
// where one is stored, and by its stored number otherwise.

#include "platform/MIDIInput.h"
#include "platform/MIDIOutput.h"
#include "platform/MessageBoxes.h"
#include "platform/SettingsStore.h"

#include <QStringList>

#include <array>

namespace tandrel {

//! The statuses dropped from the input after opening on the stored device: F9,
//! control change and program change on channel 1, active sensing and timing
//! clock, in the order they are set.
inline constexpr std::array<int, 5> kStoredInputFilters{249, 176, 192, 254, 248};

//! The DeviceID given to a port whose chosen device is not connected. No device
//! has it, so a later open (Receive reopens the input) is refused by the port
//! instead of opening whatever now holds the old number.
inline constexpr std::int16_t kAbsentDevice = -2;

//! The names of a port's devices from number `first` on (input 0, output −1, the
//! mapper), in order. Leaves DeviceID on the last one listed.
template <typename Port>
QStringList ListDevices(Port& port, std::int16_t first)
{
    QStringList names;
    const std::int16_t count = port.DeviceCount();
    for (std::int16_t i = first; i < count; ++i) {
        port.setDeviceID(i);
        names << port.DeviceName();
    }
    return names;
}

//! Sets Filter to true for each of kStoredInputFilters, in order.
void SetStoredInputFilters(MIDIInput& in);

//! The input device to open for the stored choice. With a stored name: the device
//! listed under it, its number stored quietly when it has moved, or kAbsentDevice
//! after telling the user that it is not connected. Without one: the stored number.
std::int16_t StoredInputDevice(MIDIInput& in, SettingsStore& settings, MessageBoxes& boxes);

//! As StoredInputDevice, for the output (whose device −1 is the mapper).
std::int16_t StoredOutputDevice(MIDIOutput& out, SettingsStore& settings, MessageBoxes& boxes);

//! Closes the input when it is open, opens it on the stored device and sets the
//! filters. An absent device is not opened.
void OpenStoredMIDIInput(MIDIInput& in, SettingsStore& settings, MessageBoxes& boxes);

//! Sets the output's DeviceID to the stored device, closes it when it is open or
//! on device −1, then opens it unless the device is absent.
void OpenStoredMIDIOutput(MIDIOutput& out, SettingsStore& settings, MessageBoxes& boxes);

}  // namespace tandrel
