// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Peer.h"

#include <RtMidi.h>

#include <memory>
#include <mutex>
#include <vector>

namespace gt3sim {

//! An ALSA sequencer client with one port, through RtMidi. Pacing is by the clock
//! of this process, and arrivals are stamped when RtMidi hands them over.
class AlsaPeer : public Peer {
public:
    //! nullptr, with the reason in `error`, when the sequencer cannot be opened.
    static std::unique_ptr<AlsaPeer> open(const std::string& name, bool output, std::string* error);

    bool connect(const std::string& port, std::chrono::milliseconds wait, std::string* error) override;
    bool waitForListener(std::chrono::milliseconds wait, std::string* error) override;
    bool transmit(const TransmitPlan& plan, const Options& options, std::string* error) override;
    bool drainInto(StreamCheck& check) override;
    std::size_t lost() const override { return 0; }

private:
    struct Arrival {
        std::vector<unsigned char> bytes;
        std::int64_t stampUs;
    };
    static void received(double, std::vector<unsigned char>* bytes, void* self);

    std::unique_ptr<RtMidiIn> in_;
    std::unique_ptr<RtMidiOut> out_;
    bool portOpen_ = false;
    std::mutex mutex_;
    std::vector<Arrival> arrivals_;
};

}  // namespace gt3sim
