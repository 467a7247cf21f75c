// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/MidiByteRing.h"
#include "platform/MidiInputQueue.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace tandrel {

//! Takes incoming messages from a realtime thread that must never wait: the callback
//! only copies into a lock-free ring and, when the relay sleeps, wakes it through a
//! futex word (no lock; once per burst, not per message). The relay thread looks every
//! few milliseconds while messages come, reassembles the ring's records into the
//! queue and calls `wake` when the queue asks for a wake-up. A full ring is loss,
//! told through the queue's noteLoss like any other.
class RealtimeHandOver {
public:
    //! Holds what comes while the relay is held up for a good while: at the fastest a
    //! JACK peer delivered here (gt3sim's fast pacing, 1.45 MB/s) that is 700 ms.
    static constexpr std::size_t DefaultCapacity = std::size_t{1} << 20;

    //! `wake` runs on the relay thread (or on the caller of drain()) when the queue
    //! asks for a wake-up or has loss to tell.
    RealtimeHandOver(MidiInputQueue& queue, std::function<void()> wake, std::size_t capacity = DefaultCapacity);
    ~RealtimeHandOver();
    RealtimeHandOver(const RealtimeHandOver&) = delete;
    RealtimeHandOver& operator=(const RealtimeHandOver&) = delete;

    //! On the realtime thread: no lock, no allocation, no system call unless the
    //! relay is asleep.
    void write(const unsigned char* bytes, std::size_t size);

    //! Starts the relay thread if it is not running yet; before the first write.
    void start();
    //! Moves everything written so far into the queue now, on the calling thread:
    //! before the queue's state changes, so messages meet the state they arrived in.
    //! True when there was anything.
    bool drain();
    //! Forgets everything written so far, and any loss not yet passed on.
    void discard();

private:
    //! How often the relay looks while messages come: about two JACK cycles (5.3 ms
    //! each at 256 frames and 48 kHz), whose messages arrive together, so the window
    //! is woken half as often as the cycles come; far below a frame of the status
    //! line, and a small part of what the ring holds.
    static constexpr std::chrono::milliseconds Poll{10};

    void relay();
    std::pair<bool, bool> drainLocked();  //!< anything moved, a wake-up asked

    MidiInputQueue& queue_;
    std::function<void()> wake_;
    MidiByteRing ring_;
    std::atomic<std::uint32_t> signal_{0};  //!< 1: records (or a stop) wait for the relay
    std::atomic<bool> stopping_{false};
    std::mutex consumer_;                   //!< the relay and drain() take turns reading
    std::vector<unsigned char> record_;
    std::thread relay_;
};

}  // namespace tandrel
