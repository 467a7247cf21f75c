// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/MidiInputQueue.h"

#include <algorithm>
#include <utility>

namespace tandrel {
namespace {

// Room made at a System Exclusive message's start: a GT-3 data-set message fits, so
// it costs one allocation, not one per doubling.
constexpr std::size_t SysexReserve = 512;

//! Length of a message that starts with `status`, status byte included.
std::size_t lengthOf(unsigned char status)
{
    if (status < 0xC0) return 3;  // note off and on, key pressure, control change
    if (status < 0xE0) return 2;  // program change, channel pressure
    if (status < 0xF0) return 3;  // pitch bend
    switch (status) {
    case 0xF1:
    case 0xF3: return 2;
    case 0xF2: return 3;
    default: return 1;  // tune request, undefined, a stray end of exclusive
    }
}

}  // namespace

bool MidiInputQueue::push(const unsigned char* bytes, std::size_t size)
{
    std::lock_guard lock(mutex_);
    for (std::size_t i = 0; i < size; ++i) {
        const unsigned char b = bytes[i];
        if (b >= 0xF8) {  // realtime may come anywhere, even inside System Exclusive
            enqueue(ByteString(1, static_cast<char>(b)), drop_[b]);
            continue;
        }
        if (skipping_) {
            if (b < 0x80) continue;
            skipping_ = false;
            if (b == 0xF7) continue;  // the end of the message that was cut into
        }
        if (inSysex_) {
            if (b < 0x80) {
                // The body goes in at once, as far as the next status byte or the limit
                // (which a new buffer size may have put below what is held).
                const std::size_t room = partial_.size() < sysexLimit_ ? sysexLimit_ - partial_.size() : 1;
                const std::size_t stop = std::min(size, i + room);
                std::size_t end = i + 1;
                while (end < stop && bytes[end] < 0x80) ++end;
                partial_.append(reinterpret_cast<const char*>(bytes + i), end - i);
                i = end - 1;
                if (partial_.size() >= sysexLimit_) emitSysexPiece();
                continue;
            }
            if (b == 0xF7) {
                partial_.push_back(static_cast<char>(b));
                emitSysexPiece();
                inSysex_ = false;
                continue;
            }
            // Any other status cuts the System Exclusive message off where it stands.
            if (!partial_.empty()) emitSysexPiece();
            inSysex_ = false;
        }
        if (b == 0xF0) {
            flushPartial();
            inSysex_ = true;
            sysexDropped_ = drop_[0xF0];  // the pieces of one message share its fate
            running_ = 0;
            partial_.assign(1, static_cast<char>(b));
            partial_.reserve(std::min<std::size_t>(sysexLimit_, SysexReserve));
            if (partial_.size() >= sysexLimit_) emitSysexPiece();
        } else if (b >= 0x80) {
            flushPartial();
            running_ = b < 0xF0 ? b : 0;
            partial_.assign(1, static_cast<char>(b));
            expected_ = lengthOf(b);
            if (partial_.size() == expected_) flushPartial();
        } else if (!partial_.empty()) {
            partial_.push_back(static_cast<char>(b));
            if (partial_.size() == expected_) flushPartial();
        } else if (running_ != 0) {
            partial_.assign(1, static_cast<char>(running_));
            partial_.push_back(static_cast<char>(b));
            expected_ = lengthOf(running_);
            if (partial_.size() == expected_) flushPartial();
        } else {
            // Data without any status: kept together, unfiltered, until a status or the end.
            partial_.assign(1, static_cast<char>(b));
            expected_ = 0;
        }
    }
    // The MIDI system hands over whole messages, so a short one still open is all there is.
    flushPartial();
    if (waiting_.empty() || wakeAsked_) return false;
    wakeAsked_ = true;
    return true;
}

void MidiInputQueue::flushPartial()
{
    if (inSysex_ || partial_.empty()) return;
    const auto status = static_cast<unsigned char>(partial_[0]);
    ByteString message;
    message.swap(partial_);
    expected_ = 0;
    enqueue(std::move(message), status >= 0x80 && drop_[status]);
}

void MidiInputQueue::emitSysexPiece()
{
    ByteString piece;
    piece.swap(partial_);
    enqueue(std::move(piece), sysexDropped_);
}

void MidiInputQueue::enqueue(ByteString message, bool drop)
{
    if (drop || !delivering_) return;
    if (waiting_.size() >= MaxMessages || waitingBytes_ + message.size() > MaxBytes) {
        ++overflow_;
        return;
    }
    waitingBytes_ += message.size();
    waiting_.push_back(std::move(message));
    arrived_ = true;
}

void MidiInputQueue::setSysexBufferSize(std::size_t bytes)
{
    std::lock_guard lock(mutex_);
    sysexLimit_ = bytes > 0 ? bytes : 1;
}

std::size_t MidiInputQueue::sysexBufferSize() const
{
    std::lock_guard lock(mutex_);
    return sysexLimit_;
}

void MidiInputQueue::setFilter(unsigned char status, bool drop)
{
    std::lock_guard lock(mutex_);
    drop_[status] = drop;
}

void MidiInputQueue::setDelivering(bool on)
{
    std::lock_guard lock(mutex_);
    delivering_ = on;
}

void MidiInputQueue::clear()
{
    std::lock_guard lock(mutex_);
    waiting_.clear();
    waitingBytes_ = 0;
    overflow_ = 0;
    wakeAsked_ = false;
    inSysex_ = false;
    skipping_ = true;
    arrived_ = lost_ = lossTold_ = false;
    lossCounted_ = true;
    lostEvents_ = 0;
    partial_.clear();
    expected_ = 0;
    running_ = 0;
}

std::size_t MidiInputQueue::count() const
{
    std::lock_guard lock(mutex_);
    return waiting_.size();
}

ByteString MidiInputQueue::front() const
{
    std::lock_guard lock(mutex_);
    return waiting_.empty() ? ByteString() : waiting_.front();
}

bool MidiInputQueue::pop()
{
    std::lock_guard lock(mutex_);
    if (waiting_.empty()) return false;
    waitingBytes_ -= waiting_.front().size();
    waiting_.pop_front();
    return true;
}

bool MidiInputQueue::popFront(ByteString& out)
{
    std::lock_guard lock(mutex_);
    if (waiting_.empty()) return false;
    waitingBytes_ -= waiting_.front().size();
    out = std::move(waiting_.front());
    waiting_.pop_front();
    return true;
}

bool MidiInputQueue::takeWake()
{
    std::lock_guard lock(mutex_);
    wakeAsked_ = false;
    return !waiting_.empty();
}

void MidiInputQueue::noteLoss(std::size_t events)
{
    std::lock_guard lock(mutex_);
    if (!arrived_ || lossTold_) return;
    lost_ = true;
    lostEvents_ += events;
    lossCounted_ = lossCounted_ && events > 0;
}

std::optional<std::size_t> MidiInputQueue::takeLoss()
{
    std::lock_guard lock(mutex_);
    if (!lost_ || lossTold_) return std::nullopt;
    lossTold_ = true;
    return lossCounted_ ? lostEvents_ : 0;
}

std::size_t MidiInputQueue::takeOverflow()
{
    std::lock_guard lock(mutex_);
    return std::exchange(overflow_, 0);
}

}  // namespace tandrel
