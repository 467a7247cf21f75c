// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

namespace tandrel {

//! The codes that the MIDI ports pass with their Error event.
//!
//! | code | meaning | shown to the user |
//! |---|---|---|
//! | 0 | information only; nothing went wrong | no |
//! | 1 | no MIDI system: neither the ALSA sequencer nor a JACK server answered (said once) | yes |
//! | 2 | `DeviceID` names no device that is there now | yes |
//! | 3 | the MIDI system refused to open the device | yes |
//! | 4 | the MIDI system refused a message, or failed while sending it | yes |
//! | 5 | the JACK server stopped, or stopped answering; the port is closed | yes |
//! | 6 | a message was handed to a closed output port (said once until the port opens or closes again) | yes |
//! | 7 | a member was given a value it cannot take (unknown command, status outside 0…255, buffer size below 1) | yes |
//! | 8 | a notice the user need not see, such as the second port's word that JACK stopped (the first port's was shown) | no |
//! | 9 | incoming messages were not collected in time and some were lost | yes |
//! | 10 | the MIDI system lost incoming data (a JACK xrun) while a dump came in: it may be incomplete (said once a dump) | yes |
enum class MidiError : std::int16_t {
    Information = 0,
    NoMidiSystem = 1,
    NoSuchDevice = 2,
    OpenFailed = 3,
    SendFailed = 4,
    ServerStopped = 5,
    PortNotOpen = 6,
    InvalidValue = 7,
    Notice = 8,
    InputOverflow = 9,
    InputLost = 10,
};

constexpr std::int16_t code(MidiError e) { return static_cast<std::int16_t>(e); }

}  // namespace tandrel
