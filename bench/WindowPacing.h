// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

namespace tandrel::bench {

//! The bare sender's fast pacing, on the same rule as the product's output port on
//! JACK: at most `window` bytes in flight, a piece counting as in flight until the
//! server has run three cycles after it was handed over. The bare sender has no
//! cycle counter and frees a piece three periods after it was sent: once the window
//! is full, the port sends just after a cycle starts (that is when its count moves
//! on), so three whole periods is what it holds each piece in the steady state.
class WindowPacing {
public:
    WindowPacing(std::size_t window, std::int64_t periodNs);

    //! Sleeps until a piece of `size` bytes fits, then books it as handed over now.
    void waitToSend(std::size_t size);

private:
    struct Piece {
        std::size_t size;
        std::int64_t freedNs;
    };
    void release(std::int64_t nowNs);

    std::size_t window_;
    std::int64_t holdNs_;
    std::deque<Piece> flight_;
    std::size_t inFlight_ = 0;
};

}  // namespace tandrel::bench
