// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/ByteString.h"

#include <array>
#include <cstddef>
#include <deque>
#include <mutex>

namespace tandrel {

//! The input port's waiting messages, and the reassembly that turns what the MIDI
//! system hands over into them. The MIDI system's thread pushes; the user-interface
//! thread reads. Every member is safe to call from either.
//!
//! Whatever the framing of the pushes, the queue holds whole MIDI messages, status
//! byte first: realtime bytes (F8…FF) come out as one-byte messages wherever they
//! sat, even inside a System Exclusive message; running status is written out; a
//! System Exclusive message of up to SysexBufferSize bytes is one message, and a
//! longer one comes in consecutive pieces of at most that size. Nothing is dropped
//! but what the filter names, what arrives while not delivering, and what does not
//! fit (counted as overflow).
class MidiInputQueue {
public:
    //! What MessageCount can report.
    static constexpr std::size_t MaxMessages = 32767;
    static constexpr std::size_t MaxBytes = std::size_t{64} << 20;

    //! Feeds the bytes of one message as the MIDI system framed it. A short
    //! message left open at the end is complete as it is; a System Exclusive
    //! message carries on into the next push. True when the reader needs a
    //! wake-up: messages wait and none has been asked for since the last takeWake().
    bool push(const unsigned char* bytes, std::size_t size);

    void setSysexBufferSize(std::size_t bytes);
    std::size_t sysexBufferSize() const;
    void setFilter(unsigned char status, bool drop);
    //! Messages that complete while not delivering are dropped.
    void setDelivering(bool on);
    //! Forgets the waiting messages and any half-assembled one.
    void clear();

    std::size_t count() const;
    //! The oldest waiting message; empty when none waits.
    ByteString front() const;
    //! Drops the oldest waiting message; false when none waited.
    bool pop();
    //! Clears the wake-up request; true when messages wait.
    bool takeWake();
    //! Messages lost to a full queue since the last call.
    std::size_t takeOverflow();
    //! Records events the MIDI system says it dropped before they reached the queue
    //! (from the MIDI system's thread); the reader then needs a wake-up to say so.
    void noteLoss(std::size_t events);
    //! Events the MIDI system dropped since the last call.
    std::size_t takeLoss();

private:
    void flushPartial();
    void emitSysexPiece();
    void enqueue(ByteString message, bool drop);

    mutable std::mutex mutex_;
    std::deque<ByteString> waiting_;
    std::size_t waitingBytes_ = 0;
    std::size_t overflow_ = 0;
    std::size_t lost_ = 0;
    bool wakeAsked_ = false;
    bool delivering_ = false;
    std::size_t sysexLimit_ = 4096;
    std::array<bool, 256> drop_{};

    // Reassembly state, carried from push to push.
    bool inSysex_ = false;
    bool sysexDropped_ = false;
    ByteString partial_;             //!< the message being assembled
    std::size_t expected_ = 0;       //!< its full length; 0 while unknown (stray data)
    unsigned char running_ = 0;      //!< running status, 0 when none
};

}  // namespace tandrel
