// SPDX-License-Identifier: GPL-3.0-or-later
#include "setup/OpenMIDIPorts.h"

#include "setup/PortOpening.h"

#include <QComboBox>

namespace tandrel {

void AddAbsentDevice(QComboBox& list, const QString& name)
{
    list.addItem(name + QStringLiteral(" (not connected)"), true);
    list.setCurrentIndex(list.count() - 1);
}

bool AbsentDeviceSelected(const QComboBox& list)
{
    return list.currentData().toBool();
}

void OpenMIDIInput(MIDIInput& MIDIInput1, const QComboBox& cmbMIDIInDevice)
{
    if (MIDIInput1.State() >= MIDIInput::Opened) {
        MIDIInput1.setCommand(MIDIInput::Close);
        for (const int status : kDialogInputFilters)
            MIDIInput1.setFilter(status, false);
    }
    // With no device listed the position is −1; the port reports the failed open
    // through its Error event, and the dialog stays usable.
    const bool absent = AbsentDeviceSelected(cmbMIDIInDevice);
    MIDIInput1.setDeviceID(absent ? kAbsentDevice : static_cast<std::int16_t>(cmbMIDIInDevice.currentIndex()));
    if (!absent)
        MIDIInput1.setCommand(MIDIInput::Open);
    for (const int status : kDialogInputFilters)
        MIDIInput1.setFilter(status, true);
}

void OpenMIDIOutput(MIDIOutput& MIDIOutput1, const QComboBox& cmbMIDIOutDevice)
{
    // The mapper is closed even when the port reads as closed.
    if (MIDIOutput1.State() >= MIDIOutput::Opened || MIDIOutput1.DeviceID() == MIDIOutput::MidiMapper)
        MIDIOutput1.setCommand(MIDIOutput::Close);
    const bool absent = AbsentDeviceSelected(cmbMIDIOutDevice);
    MIDIOutput1.setDeviceID(absent ? kAbsentDevice : static_cast<std::int16_t>(cmbMIDIOutDevice.currentIndex() - 1));
    if (!absent)
        MIDIOutput1.setCommand(MIDIOutput::Open);
}

}  // namespace tandrel
