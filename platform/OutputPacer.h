// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

namespace tandrel {

//! When the output port may hand its next piece of data to the MIDI system.
//!
//! DIN pacing models a MIDI cable: a piece does not start before the previous one
//! has had time to leave the wire (320 µs per byte), and a pause follows the end of
//! every message. Fast pacing keeps only what the transport can carry safely.
//!
//! A transport that moves data once per processing cycle (JACK) is driven through
//! its cycle count: a piece has left once the count has moved on twice since it was
//! handed over, is out of the transport's buffer once it has moved on three times,
//! and no more than a window of bytes is ever in that buffer.
class OutputPacer {
public:
    using Clock = std::chrono::steady_clock;
    using Micros = std::chrono::microseconds;
    enum class Mode { Din, Fast };

    //! The largest piece handed over at once; longer messages go in pieces.
    static constexpr std::size_t MaxPiece = 4096;
    static constexpr Micros ByteTime{320};
    //! Roland devices ask for at least 20 ms between data-set messages.
    static constexpr Micros DefaultPause{20000};

    //! The sizes of the pieces a message of `size` bytes goes in, in order.
    static std::vector<std::size_t> pieces(std::size_t size, std::size_t maxPiece = MaxPiece);

    void setMode(Mode mode) { mode_ = mode; }
    Mode mode() const { return mode_; }
    //! The pause after every message. Fast pacing keeps it only when it was set: its
    //! default is for the cable, and a user who names one wants it on any transport.
    void setPause(Micros pause)
    {
        pause_ = pause < Micros::zero() ? Micros::zero() : pause;
        pauseSet_ = true;
    }
    Micros pause() const { return pause_; }
    //! Fast pacing's limit for transports without cycles, in bytes per second (0: none).
    void setFastRate(std::size_t bytesPerSecond) { fastRate_ = bytesPerSecond; }
    //! Drives the pacer by a transport's cycles; `slack` is added to every pause
    //! (the cycle's granularity) and at most `window` bytes are in flight.
    void useCycles(Micros slack, std::size_t window);
    bool cycleDriven() const { return window_ > 0; }
    //! Forgets what was sent (a port opened afresh).
    void reset();

    //! The earliest moment the next piece may start; Clock::time_point::max()
    //! while the previous one has not yet left.
    Clock::time_point earliestStart() const;
    //! Whether `size` more bytes fit into the transport's window now.
    bool fits(std::size_t size) const;
    //! The cycle count at which `size` more bytes fit into the window, as the pieces
    //! in flight leave it; 0 when they fit now.
    std::uint64_t fitsAtCycle(std::size_t size) const;
    //! Records a piece handed to the transport at `now`, when its cycle count read `cycle`.
    void sent(std::size_t size, bool endsMessage, Clock::time_point now, std::uint64_t cycle = 0);
    //! Tells the pacer the transport's cycle count, read at `now`.
    void observe(std::uint64_t cycle, Clock::time_point now);
    //! True when all that was sent has left (with DIN pacing: left the modelled wire).
    bool idle(Clock::time_point now) const;
    //! Bytes handed over and not yet out of the transport's buffer.
    std::size_t inFlight() const { return inFlight_; }

private:
    struct Piece {
        std::size_t size = 0;
        bool endsMessage = false;
        Clock::time_point sentAt;
        std::uint64_t cycle = 0;
        std::optional<Clock::time_point> leftAt;
    };

    Mode mode_ = Mode::Din;
    Micros pause_ = DefaultPause;
    bool pauseSet_ = false;
    Micros slack_{0};
    std::size_t fastRate_ = 0;
    std::size_t window_ = 0;
    std::optional<Piece> last_;
    std::deque<Piece> flight_;
    std::size_t inFlight_ = 0;
};

}  // namespace tandrel
