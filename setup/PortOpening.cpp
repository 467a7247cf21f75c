// SPDX-License-Identifier: GPL-3.0-or-later
#include "setup/PortOpening.h"

#include "setup/DeviceLookup.h"
#include "setup/SettingsKeys.h"

namespace tandrel {

namespace {

struct StoredKeys {
    const QString& id;
    const QString& name;
    const char* direction;
};

template <typename Port>
std::int16_t storedDevice(Port& port, std::int16_t first, const StoredKeys& keys, SettingsStore& settings,
                          MessageBoxes& boxes)
{
    const std::int16_t number = settings::ValInt16(settings.read(keys.id, QStringLiteral("0")));
    // Settings from before names were kept go by the number alone.
    const QString name = settings.read(keys.name, QString());
    if (name.isEmpty())
        return number;
    const auto at = FindDevice(ListDevices(port, first), name, number - first);
    if (!at) {
        boxes.MsgBox(QStringLiteral("The MIDI %1 device \"%2\" is not connected, so Tandrel has not opened "
                                    "any MIDI %1. Connect it, or click Setup to choose another device.")
                         .arg(QLatin1String(keys.direction), name),
                     MessageBoxes::vbOKOnly, QStringLiteral("Tandrel"));
        return kAbsentDevice;
    }
    const auto device = static_cast<std::int16_t>(*at + first);
    if (device != number)
        settings.write(keys.id, settings::SignedText(device));
    return device;
}

}  // namespace

void SetStoredInputFilters(MIDIInput& in)
{
    for (const int status : kStoredInputFilters)
        in.setFilter(status, true);
}

std::int16_t StoredInputDevice(MIDIInput& in, SettingsStore& settings, MessageBoxes& boxes)
{
    return storedDevice(in, 0, {settings::kMIDIInputDeviceID, settings::kMIDIInputDeviceName, "input"}, settings,
                        boxes);
}

std::int16_t StoredOutputDevice(MIDIOutput& out, SettingsStore& settings, MessageBoxes& boxes)
{
    return storedDevice(out, MIDIOutput::MidiMapper,
                        {settings::kMIDIOutputDeviceID, settings::kMIDIOutputDeviceName, "output"}, settings, boxes);
}

void OpenStoredMIDIInput(MIDIInput& in, SettingsStore& settings, MessageBoxes& boxes)
{
    if (in.State() >= MIDIInput::Opened)
        in.setCommand(MIDIInput::Close);
    const std::int16_t device = StoredInputDevice(in, settings, boxes);
    in.setDeviceID(device);
    if (device != kAbsentDevice)
        in.setCommand(MIDIInput::Open);
    SetStoredInputFilters(in);
}

void OpenStoredMIDIOutput(MIDIOutput& out, SettingsStore& settings, MessageBoxes& boxes)
{
    out.setDeviceID(StoredOutputDevice(out, settings, boxes));
    if (out.State() >= MIDIOutput::Opened || out.DeviceID() == MIDIOutput::MidiMapper)
        out.setCommand(MIDIOutput::Close);
    if (out.DeviceID() != kAbsentDevice)
        out.setCommand(MIDIOutput::Open);
}

}  // namespace tandrel
