// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/MidiPorts.h"

#include "platform/RtMidiInput.h"
#include "platform/RtMidiOutput.h"

#include <QThread>

#include <future>
#include <thread>

namespace tandrel {

std::unique_ptr<MIDIInput> CreateMIDIInput() { return std::make_unique<RtMidiInput>(); }
std::unique_ptr<MIDIOutput> CreateMIDIOutput() { return std::make_unique<RtMidiOutput>(); }

void MakeMIDIClientsAhead(MIDIInput& in, MIDIOutput& out)
{
    auto* input = dynamic_cast<RtMidiInput*>(&in);
    auto* output = dynamic_cast<RtMidiOutput*>(&out);
    if (!input || !output) return;
    // One thread for both: they share the backend, which is not made for two at once.
    QThread* home = QThread::currentThread();
    std::packaged_task<void()> work([input, output, home] {
        input->client().makeAhead(home);
        output->client().makeAhead(home);
    });
    const std::shared_future<void> ready = work.get_future().share();
    input->client().waitForAhead(ready);
    output->client().waitForAhead(ready);
    std::thread(std::move(work)).detach();
}

}  // namespace tandrel
