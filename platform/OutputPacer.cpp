// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/OutputPacer.h"

#include <algorithm>

namespace tandrel {
namespace {

constexpr std::uint64_t LeftAfter = 2;   // cycles until the transport has taken a piece
constexpr std::uint64_t FreedAfter = 3;  // one more, in case clients ran side by side

}  // namespace

std::vector<std::size_t> OutputPacer::pieces(std::size_t size, std::size_t maxPiece)
{
    std::vector<std::size_t> sizes;
    maxPiece = std::max<std::size_t>(maxPiece, 1);
    for (std::size_t left = size; left > 0; left -= sizes.back()) sizes.push_back(std::min(left, maxPiece));
    return sizes;
}

void OutputPacer::useCycles(Micros slack, std::size_t window)
{
    slack_ = slack;
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
        Clock::time_point start = cycleDriven() || fastRate_ == 0
            ? Clock::time_point::min()
            : last_->sentAt + Micros(static_cast<Micros::rep>(last_->size * 1000000 / fastRate_));
        if (pauseSet_ && last_->endsMessage) start = std::max(start, last_->sentAt + pause_);
        return start;
    }
    if (!last_->leftAt) return Clock::time_point::max();
    Clock::time_point start = *last_->leftAt + ByteTime * static_cast<Micros::rep>(last_->size);
    if (last_->endsMessage) start += pause_ + slack_;
    return start;
}

bool OutputPacer::fits(std::size_t size) const
{
    // An empty window always takes one piece, so a piece larger than the window still goes.
    return !cycleDriven() || inFlight_ == 0 || inFlight_ + size <= window_;
}

std::uint64_t OutputPacer::fitsAtCycle(std::size_t size) const
{
    if (fits(size)) return 0;
    std::size_t left = inFlight_;
    for (const Piece& piece : flight_) {
        left -= piece.size;
        if (left == 0 || left + size <= window_) return piece.cycle + FreedAfter;
    }
    return 0;
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

void OutputPacer::observe(std::uint64_t cycle, Clock::time_point now)
{
    if (!cycleDriven()) return;
    if (last_ && !last_->leftAt && cycle >= last_->cycle + LeftAfter) last_->leftAt = now;
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
