// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Dt1.h"

#include <chrono>
#include <cstdint>
#include <string>

namespace gt3sim {

//! Checks what arrives as a GT-3 would see it at the end of a MIDI cable: every
//! byte takes 320 µs on the wire, and bytes that arrive while the wire is busy wait
//! their turn. It counts messages and bytes, checks the framing of System Exclusive
//! messages and the checksum of data-set messages, and measures the pause on the
//! wire between the end of one message and the start of the next.
class StreamCheck {
public:
    explicit StreamCheck(std::chrono::microseconds minPause) : minPause_(minPause.count()) {}
    virtual ~StreamCheck() = default;

    //! One event as the transport delivered it, stamped in microseconds.
    virtual void feed(const unsigned char* bytes, std::size_t size, std::int64_t stampUs);
    //! Ends the stream: a message still open is a framing error.
    void finish();

    std::size_t messages() const { return sysex_; }
    std::size_t bytes() const { return recorded_.size(); }
    std::size_t checksumErrors() const { return checksumErrors_; }
    std::size_t framingErrors() const { return framingErrors_; }
    std::size_t shortPauses() const { return shortPauses_; }
    //! The shortest pause on the wire between two messages; −1 before the second.
    std::int64_t minPauseUs() const { return minPauseSeen_; }
    bool clean() const;
    const Bytes& recorded() const { return recorded_; }
    //! "messages=… bytes=… min_pause_us=… …", one line.
    std::string summary() const;

private:
    void startMessage(std::int64_t wireUs);
    void endMessage(std::int64_t wireUs);

    std::int64_t minPause_;
    Bytes recorded_;
    Bytes message_;
    bool inSysex_ = false;
    unsigned char running_ = 0;
    std::size_t need_ = 0;  //!< data bytes the current short message still needs
    std::size_t sysex_ = 0, other_ = 0, realtime_ = 0, events_ = 0;
    std::size_t checksumErrors_ = 0, framingErrors_ = 0, shortPauses_ = 0;
    std::int64_t wireFree_ = 0;       //!< when the modelled wire is next idle
    std::int64_t lastEnd_ = -1;       //!< wire time at the end of the last message
    std::int64_t minPauseSeen_ = -1;
    std::int64_t firstStamp_ = -1, lastStamp_ = -1, firstWire_ = -1;
};

}  // namespace gt3sim
