// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "gt3sim/Peer.h"

#include <memory>
#include <optional>
#include <string>

namespace gt3sim {

//! The simulated GT-3's MIDI OUT and MIDI IN, on the system Tandrel would choose:
//! the ALSA sequencer where it opens, else a running JACK server;
//! TANDREL_MIDI_API=alsa or =jack allows only that one.
class SimPorts {
public:
    enum class System { Alsa, Jack };

    //! Both ports offered under `name`; nullptr, with the reason in `error`, when no
    //! MIDI system takes them.
    static std::unique_ptr<SimPorts> open(const std::string& name, std::string* error);

    System system() const { return system_; }
    const char* systemName() const { return system_ == System::Jack ? "JACK" : "ALSA"; }
    Peer& out() { return *out_; }
    Peer& in() { return *in_; }

    //! The numbers Tandrel gives the two ports in its device lists (input, output),
    //! where it lists them.
    std::pair<std::optional<int>, std::optional<int>> tandrelDevices() const;

private:
    SimPorts(System system, std::string name, std::unique_ptr<Peer> out, std::unique_ptr<Peer> in)
        : system_(system), name_(std::move(name)), out_(std::move(out)), in_(std::move(in)) {}

    System system_;
    std::string name_;
    std::unique_ptr<Peer> out_, in_;
};

}  // namespace gt3sim
