// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/ByteString.h"

#include <array>
#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>

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
    //! Forgets the waiting messages and any half-assembled one. The device may be in
    //! the middle of a message: what follows is dropped up to the next status byte
    //! (a lone F7 included, as that message's end); realtime bytes still pass.
    void clear();

    std::size_t count() const;
    //! The oldest waiting message; empty when none waits.
    ByteString front() const;
    //! Drops the oldest waiting message; false when none waited.
    bool pop();
    //! Moves the oldest waiting message into `out`, without a copy; false when none waited.
    bool popFront(ByteString& out);
    //! Clears the wake-up request; true when messages wait.
    bool takeWake();
    //! Messages lost to a full queue since the last call.
    std::size_t takeOverflow();
    //! The MIDI system lost `events` incoming messages (0: an unknown number), as
    //! in a JACK xrun or a full sequencer queue. Safe on the MIDI system's thread;
    //! the backend wakes the reader afterwards as it does after a push. Loss before
    //! the first message since a clear is not kept: no dump is under way.
    void noteLoss(std::size_t events);
    //! The loss to tell the user, once between clears: the messages lost, 0 when
    //! their number is unknown; nothing when there is nothing (new) to tell.
    std::optional<std::size_t> takeLoss();

private:
    void flushPartial();
    void emitSysexPiece();
    void enqueue(ByteString message, bool drop);

    mutable std::mutex mutex_;
    std::deque<ByteString> waiting_;
    std::size_t waitingBytes_ = 0;
    std::size_t overflow_ = 0;
    bool wakeAsked_ = false;
    bool delivering_ = false;
    bool arrived_ = false;           //!< a message was kept since the last clear
    bool lost_ = false, lossTold_ = false, lossCounted_ = true;
    std::size_t lostEvents_ = 0;
    std::size_t sysexLimit_ = 4096;
    std::array<bool, 256> drop_{};

    // Reassembly state, carried from push to push.
    bool inSysex_ = false;
    bool sysexDropped_ = false;
    bool skipping_ = false;          //!< dropping an interrupted message's rest
    ByteString partial_;             //!< the message being assembled
    std::size_t expected_ = 0;       //!< its full length; 0 while unknown (stray data)
    unsigned char running_ = 0;      //!< running status, 0 when none
};

}  // namespace tandrel
