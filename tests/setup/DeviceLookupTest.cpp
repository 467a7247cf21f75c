// SPDX-License-Identifier: GPL-3.0-or-later
// Finding a remembered device by name in the list the MIDI system gives at the next start.
#include "setup/DeviceLookup.h"

#include <gtest/gtest.h>

using namespace tandrel;

TEST(DeviceLookup, FindsTheRememberedDeviceExactNamesFirst)
{
    const QString alsaIn = QStringLiteral("VirMIDI 0-0:VirMIDI 0-0 20:0");
    struct Case {
        const char* what;
        QStringList names;
        QString stored;
        int storedPosition;
        int found;  // -1: not found
    } cases[] = {
        {"same place", {"A", "B", "C"}, "B", 1, 1},
        {"moved down: a device plugged in before it", {"New", "A", "B"}, "B", 1, 2},
        {"moved up: a device before it pulled out", {"B", "C"}, "B", 1, 0},
        {"gone, another device at its number", {"A", "C"}, "B", 1, -1},
        {"nothing listed", {}, "B", 0, -1},
        {"no name stored", {"", "A"}, "", 0, -1},
        {"stored number out of the list", {"A", "B"}, "B", 9, 1},
        {"stored number negative", {"A", "B"}, "A", -2, 0},
        {"same name twice: the one at the stored number", {"USB MIDI", "USB MIDI"}, "USB MIDI", 1, 1},
        {"same name twice, stored number elsewhere: the first", {"X", "USB MIDI", "USB MIDI"}, "USB MIDI", 0, 1},
        {"ALSA client number changed", {"Midi Through:Midi Through Port-0 14:0", "VirMIDI 0-0:VirMIDI 0-0 24:0"},
         alsaIn, 0, 1},
        {"ALSA port number changed", {"VirMIDI 0-0:VirMIDI 0-0 20:1"}, alsaIn, 0, 0},
        {"exact beats tolerant, even away from the stored number",
         {"VirMIDI 0-0:VirMIDI 0-0 24:0", "VirMIDI 0-0:VirMIDI 0-0 20:0"}, alsaIn, 0, 1},
        {"tolerant at the stored number beats tolerant before it",
         {"VirMIDI 0-0:VirMIDI 0-0 24:0", "VirMIDI 0-0:VirMIDI 0-0 28:0"}, alsaIn, 1, 1},
        {"another card is another device", {"VirMIDI 1-0:VirMIDI 1-0 20:0"}, alsaIn, 0, -1},
        {"stored without numbers, listed with them", {"Other 20:0", "UM-ONE:UM-ONE MIDI 1 28:0"},
         "UM-ONE:UM-ONE MIDI 1", 0, 1},
        {"JACK names are matched whole", {"gt3sim:out", "gt3sim:out2"}, "gt3sim:out2", 0, 1},
        {"a name that is only numbers is not emptied", {"A 1:2", "B 1:2"}, " 1:2", 0, -1},
        {"digits without a blank before them stay", {"Synth20:0"}, "Synth24:0", 0, -1},
        {"one number is not a client:port pair", {"Port 20"}, "Port 24", 0, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::optional<int> at = FindDevice(c.names, c.stored, c.storedPosition);
        EXPECT_EQ(at.value_or(-1), c.found);
    }
}
