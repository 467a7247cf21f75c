// SPDX-License-Identifier: GPL-3.0-or-later
#include "setup/OpenMIDIPorts.h"

#include <QComboBox>

namespace tandrel {

void OpenMIDIInput(MIDIInput& MIDIInput1, const QComboBox& cmbMIDIInDevice)
{
    if (MIDIInput1.State() >= MIDIInput::Opened) {
        MIDIInput1.setCommand(MIDIInput::Close);
        for (const int status : kDialogInputFilters)
            MIDIInput1.setFilter(status, false);
    }
    // With no device listed the position is −1; the port reports the failed open
    // through its Error event, and the dialog stays usable.
    MIDIInput1.setDeviceID(static_cast<std::int16_t>(cmbMIDIInDevice.currentIndex()));
    MIDIInput1.setCommand(MIDIInput::Open);
    for (const int status : kDialogInputFilters)
        MIDIInput1.setFilter(status, true);
}

void OpenMIDIOutput(MIDIOutput& MIDIOutput1, const QComboBox& cmbMIDIOutDevice)
{
    // The mapper is closed even when the port reads as closed.
    if (MIDIOutput1.State() >= MIDIOutput::Opened || MIDIOutput1.DeviceID() == MIDIOutput::MidiMapper)
        MIDIOutput1.setCommand(MIDIOutput::Close);
    MIDIOutput1.setDeviceID(static_cast<std::int16_t>(cmbMIDIOutDevice.currentIndex() - 1));
    MIDIOutput1.setCommand(MIDIOutput::Open);
}

}  // namespace tandrel
