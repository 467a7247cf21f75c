// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Peer.h"

#include <jack/jack.h>
#include <jack/ringbuffer.h>

#include <atomic>
#include <memory>

namespace gt3sim {

//! A JACK client with one MIDI port. It writes and reads the port itself in the
//! process callback, so events leave at the planned frame, and arrivals are stamped
//! with the time they were taken in (plus their place in the cycle).
class JackPeer : public Peer {
public:
    //! A client named `name` with an output port "out" or an input port "in";
    //! nullptr, with the reason in `error`, when no JACK server answers.
    //! `activate` false leaves the client inactive: JACK refuses connections to its port.
    static std::unique_ptr<JackPeer> open(const std::string& name, bool output, std::string* error,
                                          bool activate = true);
    ~JackPeer() override;

    bool connect(const std::string& port, std::chrono::milliseconds wait, std::string* error) override;
    bool waitForListener(std::chrono::milliseconds wait, std::string* error) override;
    bool transmit(const TransmitPlan& plan, const Options& options, std::string* error) override;
    bool drainInto(StreamCheck& check) override;
    std::size_t lost() const override { return lost_.load(); }

private:
    JackPeer(jack_client_t* client, bool output);
    static int process(jack_nframes_t frames, void* self);
    static void shutdown(void* self);
    void write(void* buffer, jack_nframes_t frames);
    void read(void* buffer, jack_nframes_t);
    bool waitCycles(std::uint64_t count, std::chrono::milliseconds limit);

    jack_client_t* client_;
    jack_port_t* port_ = nullptr;
    bool output_;
    std::atomic<bool> alive_{true};
    std::atomic<std::uint64_t> cycles_{0};
    // Sending: the plan is fixed before `go_`, and then read by the process thread only.
    const TransmitPlan* plan_ = nullptr;
    bool din_ = true;
    std::size_t cycleBytes_ = 8192;
    std::atomic<bool> go_{false}, done_{false};
    std::size_t next_ = 0;
    bool baseSet_ = false;
    jack_nframes_t base_ = 0;
    // Receiving: stamped events through a ring buffer to the main thread.
    jack_ringbuffer_t* ring_ = nullptr;
    std::atomic<std::size_t> lost_{0};
};

}  // namespace gt3sim
