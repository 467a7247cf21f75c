// SPDX-License-Identifier: GPL-3.0-or-later
#include "SimPorts.h"

#include "gt3sim/AlsaPeer.h"
#include "gt3sim/JackPeer.h"
#include "platform/MidiBackend.h"

#include <RtMidi.h>

#include <cstdlib>

namespace gt3sim {
namespace {

using namespace std::chrono_literals;

// The position of the first port named like `name` in Tandrel's list of `midi`'s ports.
std::optional<int> positionOf(RtMidi& midi, const std::string& name)
{
    const auto list = tandrel::MidiBackend::listDevices(midi);
    for (std::size_t i = 0; i < list.size(); ++i)
        if (list[i].name.find(name) != std::string::npos) return static_cast<int>(i);
    return std::nullopt;
}

}  // namespace

std::unique_ptr<SimPorts> SimPorts::open(const std::string& name, std::string* error)
{
    const char* env = std::getenv("TANDREL_MIDI_API");
    const std::string only = env ? env : "";
    std::unique_ptr<Peer> out, in;
    std::string alsaWhy, jackWhy;
    if (only != "jack") {
        const auto alsa = [](const std::string& n, bool output, std::string* why) -> std::unique_ptr<Peer> {
            auto peer = AlsaPeer::open(n, output, why);
            if (peer) peer->waitForListener(0ms, why);  // offers its port
            return peer;
        };
        // On ALSA both ends may carry the one name.
        out = alsa(name, true, &alsaWhy);
        in = out ? alsa(name, false, &alsaWhy) : nullptr;
        if (out && in) return std::unique_ptr<SimPorts>(new SimPorts(System::Alsa, name, std::move(out), std::move(in)));
    }
    if (only != "alsa") {
        out = JackPeer::open(name, true, &jackWhy);
        in = out ? JackPeer::open(name + " in", false, &jackWhy) : nullptr;  // JACK wants each client's name its own
        if (out && in)
            return std::unique_ptr<SimPorts>(new SimPorts(System::Jack, name, std::move(out), std::move(in)));
    }
    *error = only == "jack" ? jackWhy : only == "alsa" ? alsaWhy : alsaWhy + "; " + jackWhy;
    return nullptr;
}

std::pair<std::optional<int>, std::optional<int>> SimPorts::tandrelDevices() const
{
    const RtMidi::Api api = system_ == System::Jack ? RtMidi::UNIX_JACK : RtMidi::LINUX_ALSA;
    try {
        RtMidiIn sources(api, name_ + " lister");
        RtMidiOut destinations(api, name_ + " lister");
        return {positionOf(sources, name_), positionOf(destinations, name_)};
    } catch (const RtMidiError&) {
        return {};
    }
}

}  // namespace gt3sim
