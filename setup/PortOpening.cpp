// SPDX-License-Identifier: GPL-3.0-or-later
#include "setup/PortOpening.h"

#include "setup/SettingsKeys.h"

namespace tandrel {

void SetStoredInputFilters(MIDIInput& in)
{
    for (const int status : kStoredInputFilters)
        in.setFilter(status, true);
}

void OpenStoredMIDIInput(MIDIInput& in, const SettingsStore& settings)
{
    if (in.State() >= MIDIInput::Opened)
        in.setCommand(MIDIInput::Close);
    in.setDeviceID(settings::ValInt16(settings.read(settings::kMIDIInputDeviceID, QStringLiteral("0"))));
    in.setCommand(MIDIInput::Open);
    SetStoredInputFilters(in);
}

void OpenStoredMIDIOutput(MIDIOutput& out, const SettingsStore& settings)
{
    out.setDeviceID(settings::ValInt16(settings.read(settings::kMIDIOutputDeviceID, QStringLiteral("0"))));
    if (out.State() >= MIDIOutput::Opened || out.DeviceID() == MIDIOutput::MidiMapper)
        out.setCommand(MIDIOutput::Close);
    out.setCommand(MIDIOutput::Open);
}

}  // namespace tandrel
