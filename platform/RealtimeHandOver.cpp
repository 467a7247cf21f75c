// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/RealtimeHandOver.h"

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
    // Only the first record since the relay last looked pays for the futex wake.
    if (signal_.exchange(1, std::memory_order_release) == 0) signal_.notify_one();
}

void RealtimeHandOver::start()
{
    if (!relay_.joinable()) relay_ = std::thread([this] { relay(); });
}

void RealtimeHandOver::relay()
{
    for (;;) {
        signal_.wait(0, std::memory_order_relaxed);
        // Cleared before reading, so a record written from here on wakes us again; the
        // exchange reads the latest writer's flag, and so sees its record.
        signal_.exchange(0, std::memory_order_acquire);
        if (stopping_.load(std::memory_order_relaxed)) return;
        bool wake;
        {
            std::lock_guard lock(consumer_);
            wake = drainLocked();
        }
        if (wake) wake_();
    }
}

bool RealtimeHandOver::drainLocked()
{
    bool wake = false;
    while (ring_.read(record_))
        if (queue_.push(record_.data(), record_.size())) wake = true;
    if (const std::size_t lost = ring_.takeDropped()) {
        queue_.noteLoss(lost);
        wake = true;
    }
    return wake;
}

void RealtimeHandOver::drain()
{
    bool wake;
    {
        std::lock_guard lock(consumer_);
        wake = drainLocked();
    }
    if (wake) wake_();
}

void RealtimeHandOver::discard()
{
    std::lock_guard lock(consumer_);
    while (ring_.read(record_)) {
    }
    ring_.takeDropped();
}

}  // namespace tandrel
