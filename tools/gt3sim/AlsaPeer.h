// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Peer.h"
#include "platform/AlsaSeqReader.h"

#include <RtMidi.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

namespace gt3sim {

//! An ALSA sequencer client with one port. It sends through RtMidi, paced by the
//! clock of this process; it receives through Tandrel's own ALSA reader (a pool the
//! sequencer does not overrun at full speed, dropped events counted), and stamps
//! each event as the reader hands it over.
class AlsaPeer : public Peer {
public:
    //! nullptr, with the reason in `error`, when the sequencer cannot be opened.
    static std::unique_ptr<AlsaPeer> open(const std::string& name, bool output, std::string* error);

    bool connect(const std::string& port, std::chrono::milliseconds wait, std::string* error) override;
    bool waitForListener(std::chrono::milliseconds wait, std::string* error) override;
    bool transmit(const TransmitPlan& plan, const Options& options, std::string* error) override;
    bool drainInto(StreamCheck& check) override;
    std::size_t lost() const override { return lost_.load(); }

private:
    struct Arrival {
        std::vector<unsigned char> bytes;
        std::int64_t stampUs;
    };
    void received(const unsigned char* bytes, std::size_t size);

    std::string name_;
    std::unique_ptr<RtMidiIn> in_;  //!< lists the ports by RtMidi's names, as Tandrel does
    std::unique_ptr<tandrel::AlsaSeqReader> reader_;
    std::atomic<std::size_t> lost_{0};
    std::unique_ptr<RtMidiOut> out_;
    bool portOpen_ = false;
    std::mutex mutex_;
    std::vector<Arrival> arrivals_;
};

}  // namespace gt3sim
