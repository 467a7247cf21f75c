// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/MidiByteRing.h"
#include "platform/MidiInputQueue.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace tandrel {

//! Takes incoming messages from a realtime thread that must never wait: the callback
//! only copies into a lock-free ring and, when the relay sleeps, wakes it through a
//! futex word. The relay thread reassembles the ring's records into the queue and
//! calls `wake` once per batch, where the old path posted an event per message. A
//! full ring is loss, told through the queue's noteLoss like any other.
class RealtimeHandOver {
public:
    //! Holds a burst the reader cannot take for a good while: at the fastest a JACK
    //! peer delivered here (about 3 MB/s from gt3sim) that is some 300 ms.
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

    //! Starts the relay thread if it is not running yet.
    void start();
    //! Moves everything written so far into the queue now, on the calling thread:
    //! before the queue's state changes, so messages meet the state they arrived in.
    void drain();
    //! Forgets everything written so far, and any loss not yet passed on.
    void discard();

private:
    void relay();
    bool drainLocked();

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
