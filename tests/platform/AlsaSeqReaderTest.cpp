// SPDX-License-Identifier: GPL-3.0-or-later
// The ALSA reader subscribes to the address at the end of RtMidi's port name, so the
// device the user picked by name is the one read. (Reading itself is tested in the
// ALSA guest: tests/alsa.)
#include "platform/AlsaSeqReader.h"

#include <gtest/gtest.h>

using tandrel::AlsaSeqReader;

TEST(AlsaSeqReaderTest, FindsTheSequencerAddressAtTheEndOfRtMidisPortName)
{
    const struct {
        const char* name;
        bool found;
        int client, port;
    } rows[] = {
        {"Virtual Raw MIDI 0-1:VirMIDI 0-1 17:0", true, 17, 0},
        {"UM-ONE:UM-ONE MIDI 1 24:0", true, 24, 0},
        {"gt3sim:in 130:3", true, 130, 3},
        {"a name with 12:5 inside:port 129:1", true, 129, 1},
        {"no address at all", false, 0, 0},
        {"ends in a colon 17:", false, 0, 0},
        {"ends in text 17:0x", false, 0, 0},
        {"negative -1:0", false, 0, 0},
        {"", false, 0, 0},
    };
    for (const auto& row : rows) {
        int client = -7, port = -7;
        EXPECT_EQ(AlsaSeqReader::addressOf(row.name, &client, &port), row.found) << row.name;
        if (row.found) {
            EXPECT_EQ(client, row.client) << row.name;
            EXPECT_EQ(port, row.port) << row.name;
        }
    }
}
