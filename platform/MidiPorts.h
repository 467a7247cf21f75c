// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/MIDIInput.h"
#include "platform/MIDIOutput.h"

#include <memory>

namespace tandrel {

//! The production MIDI ports, on the system's MIDI service.
std::unique_ptr<MIDIInput> CreateMIDIInput();
std::unique_ptr<MIDIOutput> CreateMIDIOutput();

}  // namespace tandrel
