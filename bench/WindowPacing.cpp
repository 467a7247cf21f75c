// SPDX-License-Identifier: GPL-3.0-or-later
#include "WindowPacing.h"

#include "ProcessStats.h"

#include <chrono>
#include <thread>

namespace tandrel::bench {

WindowPacing::WindowPacing(std::size_t window, std::int64_t periodNs) : window_(window), holdNs_(periodNs * 3) {}

void WindowPacing::release(std::int64_t nowNs)
{
    while (!flight_.empty() && flight_.front().freedNs <= nowNs) {
        inFlight_ -= flight_.front().size;
        flight_.pop_front();
    }
}

void WindowPacing::waitToSend(std::size_t size)
{
    release(MonotonicNs());
    // An empty window takes any piece, as the port's does.
    while (inFlight_ > 0 && inFlight_ + size > window_) {
        std::this_thread::sleep_for(std::chrono::nanoseconds(flight_.front().freedNs - MonotonicNs()));
        release(MonotonicNs());
    }
    flight_.push_back({size, MonotonicNs() + holdNs_});
    inFlight_ += size;
}

}  // namespace tandrel::bench
