// SPDX-License-Identifier: GPL-3.0-or-later
#include "ProbeMIDIInput.h"

namespace tandrel::bench {

ProbeMIDIInput::ProbeMIDIInput(MIDIInput& inner) : inner_(inner)
{
    inner_.events.Message = [this] {
        raiseMessage();
        if (afterMessage)
            afterMessage();
    };
    inner_.events.Error = [this](std::int16_t code, const QString& text) { raiseError(code, text); };
}

ProbeMIDIInput::~ProbeMIDIInput()
{
    inner_.events = {};
}

}  // namespace tandrel::bench
