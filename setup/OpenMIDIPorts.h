// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// (Re)opening the ports on the devices selected in the setup dialog's lists. Only
// the selected positions are used, never the listed names, because the names of
// two devices can be the same.

#include "platform/MIDIInput.h"
#include "platform/MIDIOutput.h"

#include <QString>

#include <array>

class QComboBox;

namespace tandrel {

//! The statuses the dialog drops from the input (F9, active sensing, timing clock),
//! in the order they are set: a GT-3 dump must not be interleaved with them.
inline constexpr std::array<int, 3> kDialogInputFilters{249, 254, 248};

//! Adds the entry that stands for a chosen device which is not connected, at the
//! end of `list`, and selects it.
void AddAbsentDevice(QComboBox& list, const QString& name);

//! Whether the selected entry is a chosen device that is not connected.
bool AbsentDeviceSelected(const QComboBox& list);

//! Closes the input when it is open (and lets the filtered statuses through again),
//! opens it on the device at the list's selected position and sets the filters.
//! The port is left open and not delivering; with an absent device it stays closed.
void OpenMIDIInput(MIDIInput& MIDIInput1, const QComboBox& cmbMIDIInDevice);

//! Closes the output when it is open or on the mapper, then opens it on the device
//! at the list's selected position − 1 (position 0 is the mapper, device −1),
//! unless the selected device is absent.
void OpenMIDIOutput(MIDIOutput& MIDIOutput1, const QComboBox& cmbMIDIOutDevice);

}  // namespace tandrel
