// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/RealtimeHandOver.h"

#include <tuple>
#include <utility>

namespace tandrel {

RealtimeHandOver::RealtimeHandOver(MidiInputQueue& queue, std::function<void()> wake, std::size_t capacity)
    : queue_(queue), wake_(std::move(wake)), ring_(capacity)
{
}

RealtimeHandOver::~RealtimeHandOver()
{
    if (!relay_.joinable()) return;
    stopping_.store(true, std::memory_order_relaxed);
    signal_.store(1, std::memory_order_release);
    signal_.notify_one();
    relay_.join();
}

void RealtimeHandOver::write(const unsigned char* bytes, std::size_t size)
{
    ring_.write(bytes, size);  // a full ring counts the loss itself; the relay passes it on
    // Only a record that finds the relay asleep pays for the futex wake.
    if (signal_.exchange(1, std::memory_order_acq_rel) == 0) signal_.notify_one();
}

void RealtimeHandOver::start()
{
    if (relay_.joinable()) return;
    ring_.touch();
    relay_ = std::thread([this] { relay(); });
}

void RealtimeHandOver::relay()
{
    using namespace std::chrono_literals;
    while (true) {
        signal_.wait(0, std::memory_order_acquire);
        // Awake while messages keep coming: the flag stays set, so the realtime thread
        // makes no system call at all during a dump. Longer quiet than a slow JACK
        // cycle puts the relay back to sleep.
        for (auto quiet = 0ms; quiet < 60ms;) {
            if (stopping_.load(std::memory_order_relaxed)) return;
            quiet = drain() ? 0ms : quiet + Poll;
            std::this_thread::sleep_for(Poll);
        }
        // Asleep from here: a writer that still saw the flag set did not wake us, and
        // the exchange reads its flag, so the drain after it sees its record. The flag
        // it clears may be the destructor's, whose stop it then sees.
        signal_.exchange(0, std::memory_order_acq_rel);
        if (stopping_.load(std::memory_order_relaxed)) return;
        drain();
    }
}

std::pair<bool, bool> RealtimeHandOver::drainLocked()
{
    bool moved = false, wake = false;
    for (; ring_.read(record_); moved = true)
        if (queue_.push(record_.data(), record_.size())) wake = true;
    if (const std::size_t lost = ring_.takeDropped()) {
        queue_.noteLoss(lost);
        moved = wake = true;
    }
    return {moved, wake};
}

bool RealtimeHandOver::drain()
{
    bool moved, wake;
    {
        std::lock_guard lock(consumer_);
        std::tie(moved, wake) = drainLocked();
    }
    if (wake) wake_();
    return moved;
}

void RealtimeHandOver::discard()
{
    std::lock_guard lock(consumer_);
    while (ring_.read(record_)) {
    }
    ring_.takeDropped();
}

}  // namespace tandrel
