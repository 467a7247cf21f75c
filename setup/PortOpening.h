// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// (Re)opening the ports on the device numbers held in the settings, as start-up
// does and as opening a dump file does for the output.

#include "platform/MIDIInput.h"
#include "platform/MIDIOutput.h"
#include "platform/SettingsStore.h"

#include <array>

namespace tandrel {

//! The statuses dropped from the input after opening on the stored device: F9,
//! control change and program change on channel 1, active sensing and timing
//! clock, in the order they are set.
inline constexpr std::array<int, 5> kStoredInputFilters{249, 176, 192, 254, 248};

//! Sets Filter to true for each of kStoredInputFilters, in order.
void SetStoredInputFilters(MIDIInput& in);

//! Closes the input when it is open, opens it on the stored "MIDI Input Device ID"
//! and sets the filters.
void OpenStoredMIDIInput(MIDIInput& in, const SettingsStore& settings);

//! Sets the output's DeviceID to the stored "MIDI Output Device ID", closes it when
//! it is open or on device −1, then opens it.
void OpenStoredMIDIOutput(MIDIOutput& out, const SettingsStore& settings);

}  // namespace tandrel
