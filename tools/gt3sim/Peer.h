// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Options.h"
#include "StreamCheck.h"
#include "TransmitPlan.h"

#include <chrono>
#include <string>

namespace gt3sim {

//! gt3sim's end of a MIDI connection: one port, sending or receiving.
class Peer {
public:
    virtual ~Peer() = default;
    //! Connects the peer's port with `port` of another program, which may take up
    //! to `wait` to appear.
    virtual bool connect(const std::string& port, std::chrono::milliseconds wait, std::string* error) = 0;
    //! Waits until something listens on the peer's output port.
    virtual bool waitForListener(std::chrono::milliseconds wait, std::string* error) = 0;
    //! Sends the plan, paced as it says; returns once the last event has gone out.
    virtual bool transmit(const TransmitPlan& plan, const Options& options, std::string* error) = 0;
    //! Hands everything received so far to `check`; false once the transport is gone.
    virtual bool drainInto(StreamCheck& check) = 0;
    //! Events lost because they came faster than they were taken.
    virtual std::size_t lost() const = 0;
};

}  // namespace gt3sim
