// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/MIDIInput.h"
#include "platform/MIDIOutput.h"

#include <memory>

namespace tandrel {

//! The production MIDI ports, on the system's MIDI service.
std::unique_ptr<MIDIInput> CreateMIDIInput();
std::unique_ptr<MIDIOutput> CreateMIDIOutput();

//! Starts making the MIDI system's clients under two production ports on a thread
//! of their own, so the window can be built meanwhile. Opening the ports still
//! happens when the program asks, in its order; it waits for this work if need be.
void MakeMIDIClientsAhead(MIDIInput& in, MIDIOutput& out);

}  // namespace tandrel
