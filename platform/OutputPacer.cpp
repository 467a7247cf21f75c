// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/OutputPacer.h"

#include <algorithm>

namespace tandrel {
namespace {

// A piece handed over while the transport's cycle count reads n goes out at the
// start of cycle n at the latest, counting from 0 at the first cycle seen: the
// count moves on when a cycle starts, and the sending client runs in that cycle or
// in the next. Timing the wire from there never shortens a pause.
constexpr std::uint64_t OutAt = 1;
constexpr std::uint64_t FreedAfter = 3;  // cycles until the transport's buffer is surely free again

}  // namespace

std::vector<std::size_t> OutputPacer::pieces(std::size_t size, std::size_t maxPiece)
{
    std::vector<std::size_t> sizes;
    maxPiece = std::max<std::size_t>(maxPiece, 1);
    for (std::size_t left = size; left > 0; left -= sizes.back()) sizes.push_back(std::min(left, maxPiece));
    return sizes;
}

void OutputPacer::useCycles(Micros period, std::size_t window)
{
    period_ = period;
    window_ = window;
}

void OutputPacer::reset()
{
    last_.reset();
    flight_.clear();
    inFlight_ = 0;
}

OutputPacer::Clock::time_point OutputPacer::earliestStart() const
{
    if (!last_) return Clock::time_point::min();
    if (mode_ == Mode::Fast) {
        if (cycleDriven() || fastRate_ == 0) return Clock::time_point::min();
        return last_->sentAt + Micros(static_cast<Micros::rep>(last_->size * 1000000 / fastRate_));
    }
    if (!last_->leftAt) return Clock::time_point::max();
    Clock::time_point start = *last_->leftAt + ByteTime * static_cast<Micros::rep>(last_->size);
    // On a cycled transport a pause also gets one cycle more: the moments a cycle
    // starts, as the sender sees them and as the receiver stamps its arrivals,
    // wander by up to that much on a busy machine, and a pause must never come out
    // short of what the device asks for.
    if (last_->endsMessage) start += pause_ + period_;
    return start;
}

bool OutputPacer::fits(std::size_t size) const
{
    // An empty window always takes one piece, so a piece larger than the window still goes.
    return !cycleDriven() || inFlight_ == 0 || inFlight_ + size <= window_;
}

void OutputPacer::sent(std::size_t size, bool endsMessage, Clock::time_point now, std::uint64_t cycle)
{
    Piece piece{size, endsMessage, now, cycle, std::nullopt};
    if (!cycleDriven()) {
        piece.leftAt = now;
    } else {
        flight_.push_back(piece);
        inFlight_ += size;
    }
    last_ = piece;
}

void OutputPacer::observe(std::uint64_t cycle, Clock::time_point cycleStart)
{
    if (!cycleDriven()) return;
    if (last_ && !last_->leftAt && cycle >= last_->cycle + OutAt)
        last_->leftAt = cycleStart - period_ * static_cast<Micros::rep>(cycle - last_->cycle - OutAt);
    while (!flight_.empty() && cycle >= flight_.front().cycle + FreedAfter) {
        inFlight_ -= flight_.front().size;
        flight_.pop_front();
    }
}

bool OutputPacer::idle(Clock::time_point now) const
{
    if (!last_) return true;
    if (!last_->leftAt) return false;
    if (mode_ == Mode::Fast) return true;
    return now >= *last_->leftAt + ByteTime * static_cast<Micros::rep>(last_->size);
}

}  // namespace tandrel
