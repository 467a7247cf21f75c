// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Dt1.h"

#include <chrono>
#include <cstdint>

namespace gt3sim {

//! A byte stream cut into the events a transport carries, each with the moment it
//! may start. System Exclusive messages go in pieces of at most `piece` bytes;
//! realtime bytes go on their own, also from inside a System Exclusive message.
//! With DIN pacing an event starts once the one before has left the wire (320 µs
//! a byte), and a message starts `pause` after the previous message ended.
class TransmitPlan {
public:
    struct Event {
        Bytes bytes;
        std::int64_t startUs;  //!< from the start of the transmission; 0 throughout for fast pacing
    };

    TransmitPlan(const Bytes& stream, std::size_t piece, bool din, std::chrono::microseconds pause);

    const std::vector<Event>& events() const { return events_; }
    std::size_t messages() const { return messages_; }
    std::size_t bytes() const { return bytes_; }

private:
    void add(Bytes bytes, bool startsMessage, bool endsMessage);

    bool din_;
    std::int64_t pauseUs_;
    std::vector<Event> events_;
    std::size_t messages_ = 0, bytes_ = 0;
    std::int64_t wireFree_ = 0;
    bool pauseDue_ = false;
};

}  // namespace gt3sim
