// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/MidiPorts.h"

#include "platform/RtMidiInput.h"
#include "platform/RtMidiOutput.h"

namespace tandrel {

std::unique_ptr<MIDIInput> CreateMIDIInput() { return std::make_unique<RtMidiInput>(); }
std::unique_ptr<MIDIOutput> CreateMIDIOutput() { return std::make_unique<RtMidiOutput>(); }

}  // namespace tandrel
