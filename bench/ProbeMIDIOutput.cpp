// SPDX-License-Identifier: GPL-3.0-or-later
#include "ProbeMIDIOutput.h"

#include "ProcessStats.h"

namespace tandrel::bench {

ProbeMIDIOutput::ProbeMIDIOutput(MIDIOutput& inner) : inner_(inner)
{
    inner_.events.Error = [this](std::int16_t code, const QString& text) {
        ++errors;
        raiseError(code, text);
    };
    inner_.events.QueueEmpty = [this] {
        lastQueueEmptyNs = MonotonicNs();
        raiseQueueEmpty();
    };
}

ProbeMIDIOutput::~ProbeMIDIOutput()
{
    inner_.events = {};
}

void ProbeMIDIOutput::setCommand(std::int16_t code)
{
    if (code != Transmit) {
        inner_.setCommand(code);
        return;
    }
    const std::int64_t start = MonotonicNs();
    if (transmissions == 0)
        firstTransmitNs = start;
    bytesHanded += static_cast<std::int64_t>(inner_.MessageData().size());
    ++transmissions;
    inner_.setCommand(code);
    lastTransmitEndNs = MonotonicNs();
}

}  // namespace tandrel::bench
