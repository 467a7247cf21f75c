// SPDX-License-Identifier: GPL-3.0-or-later
// The input port's reassembly and queue against a model of the MIDI byte stream,
// written from the port's rules: realtime bytes (F8-FF) are one-byte messages
// wherever they sit; a System Exclusive message runs from F0 to F7 across any
// number of callbacks, comes out in pieces of at most the buffer size, and is cut
// off by any other status; short messages take their length from their status,
// with running status written out; what a callback leaves open is complete as it
// is; stray data is one unfiltered message; after a clear, the rest of an
// interrupted message is dropped up to the next status byte (a lone F7 with it);
// the filter, delivery and the queue's limits decide what is kept. Loss that the
// MIDI system reports is told once between clears, and only once a message was kept. The reader side (count, front, pop, the wake-up,
// the overflow count) is checked after every operation.
//
// The input is a script: each operation is one byte followed by its operands, so
// callbacks of any size (far beyond the buffer size, with synthetic bulk data)
// interleave with the reader and with the port's settings.
#include "fuzz/ModelCheck.h"
#include "platform/MidiInputQueue.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <optional>
#include <utility>
#include <vector>

using namespace tandrel;

namespace {

using fuzz::check;

class Model {
public:
    void setLimit(std::size_t n) { limit_ = n == 0 ? 1 : n; }
    void setDrop(unsigned char s, bool d) { drop_[s] = d; }
    void setDelivering(bool on) { delivering_ = on; }

    bool push(const std::vector<unsigned char>& data)
    {
        for (const unsigned char b : data)
            feed(b);
        endOfCallback();
        if (queue_.empty() || wakeAsked_)
            return false;
        wakeAsked_ = true;
        return true;
    }

    void clear()
    {
        queue_.clear();
        bytes_ = 0;
        overflow_ = 0;
        wakeAsked_ = false;
        mode_ = Mode::Idle;
        message_.clear();
        running_ = 0;
        skipping_ = true;
        arrived_ = lost_ = told_ = false;
        counted_ = true;
        lostEvents_ = 0;
    }
    void noteLoss(std::size_t events)
    {
        if (!arrived_ || told_)
            return;
        lost_ = true;
        lostEvents_ += events;
        counted_ = counted_ && events > 0;
    }
    std::optional<std::size_t> takeLoss()
    {
        if (!lost_ || told_)
            return std::nullopt;
        told_ = true;
        return counted_ ? lostEvents_ : 0;
    }
    bool pop()
    {
        if (queue_.empty())
            return false;
        bytes_ -= queue_.front().size();
        queue_.pop_front();
        return true;
    }
    bool takeWake()
    {
        wakeAsked_ = false;
        return !queue_.empty();
    }
    std::size_t takeOverflow() { return std::exchange(overflow_, 0); }
    const std::deque<ByteString>& queue() const { return queue_; }

private:
    enum class Mode { Idle, Sysex, Short, Stray };

    static std::size_t length(unsigned char status)
    {
        switch (status >> 4) {
        case 0xC:
        case 0xD: return 2;
        case 0xF: return status == 0xF2 ? 3 : (status == 0xF1 || status == 0xF3) ? 2 : 1;
        default: return 3;
        }
    }

    void keep(ByteString m, bool dropped)
    {
        if (dropped || !delivering_)
            return;
        if (queue_.size() >= MidiInputQueue::MaxMessages || bytes_ + m.size() > MidiInputQueue::MaxBytes) {
            ++overflow_;
            return;
        }
        bytes_ += m.size();
        queue_.push_back(std::move(m));
        arrived_ = true;
    }

    void finishOpen()
    {
        if (mode_ == Mode::Short)
            keep(message_, drop_[static_cast<unsigned char>(message_[0])]);
        else if (mode_ == Mode::Stray)
            keep(message_, false);
        if (mode_ != Mode::Sysex) {
            message_.clear();
            mode_ = Mode::Idle;
        }
    }

    void sysexByte(unsigned char b)
    {
        message_.push_back(static_cast<char>(b));
        if (b == 0xF7 || message_.size() >= limit_) {
            keep(message_, sysexDropped_);
            message_.clear();
        }
        if (b == 0xF7)
            mode_ = Mode::Idle;
    }

    void startShort(unsigned char status)
    {
        message_.assign(1, static_cast<char>(status));
        mode_ = Mode::Short;
        if (length(status) == 1)
            finishOpen();
    }

    void feed(unsigned char b)
    {
        if (b >= 0xF8) {
            keep(ByteString(1, static_cast<char>(b)), drop_[b]);
            return;
        }
        if (skipping_) {
            if (b < 0x80)
                return;
            skipping_ = false;
            if (b == 0xF7)
                return;
        }
        if (mode_ == Mode::Sysex) {
            if (b < 0x80 || b == 0xF7) {
                sysexByte(b);
                return;
            }
            if (!message_.empty())
                keep(message_, sysexDropped_);
            message_.clear();
            mode_ = Mode::Idle;
        }
        if (b >= 0x80) {
            finishOpen();
            if (b == 0xF0) {
                running_ = 0;
                sysexDropped_ = drop_[0xF0];
                mode_ = Mode::Sysex;
                sysexByte(b);
                return;
            }
            running_ = b < 0xF0 ? b : 0;
            startShort(b);
            return;
        }
        if (mode_ == Mode::Short || mode_ == Mode::Stray) {
            message_.push_back(static_cast<char>(b));
            if (mode_ == Mode::Short && message_.size() == length(static_cast<unsigned char>(message_[0])))
                finishOpen();
            return;
        }
        if (running_ != 0) {
            startShort(running_);
            message_.push_back(static_cast<char>(b));
            if (message_.size() == length(running_))
                finishOpen();
            return;
        }
        message_.assign(1, static_cast<char>(b));
        mode_ = Mode::Stray;
    }

    void endOfCallback() { finishOpen(); }

    std::deque<ByteString> queue_;
    std::size_t bytes_ = 0, overflow_ = 0, limit_ = 1;
    bool wakeAsked_ = false, delivering_ = false, sysexDropped_ = false, skipping_ = false;
    bool arrived_ = false, lost_ = false, told_ = false, counted_ = true;
    std::size_t lostEvents_ = 0;
    std::array<bool, 256> drop_{};
    Mode mode_ = Mode::Idle;
    ByteString message_;
    unsigned char running_ = 0;
};

class Script {
public:
    Script(const std::uint8_t* data, std::size_t size) : p_(data), end_(data + size) {}
    bool done() const { return p_ == end_; }
    std::uint8_t byte() { return p_ == end_ ? 0 : *p_++; }
    std::vector<unsigned char> take(std::size_t n)
    {
        n = std::min<std::size_t>(n, static_cast<std::size_t>(end_ - p_));
        std::vector<unsigned char> v(p_, p_ + n);
        p_ += n;
        return v;
    }

private:
    const std::uint8_t* p_;
    const std::uint8_t* end_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    MidiInputQueue queue;
    Model model;
    Script script(data, size);
    // The buffer size a short script starts with: small, so pieces happen often.
    const std::size_t limit = 1 + script.byte() % 32;
    queue.setSysexBufferSize(limit);
    model.setLimit(limit);
    queue.setDelivering(true);
    model.setDelivering(true);

    while (!script.done()) {
        switch (script.byte() % 11) {
        case 0:
        case 1:
        case 2: {  // a callback with the next bytes of the script
            const auto bytes = script.take(script.byte());
            check(queue.push(bytes.data(), bytes.size()) == model.push(bytes), "push asks for a wake-up");
            break;
        }
        case 3: {  // a callback far larger than the buffer: a synthetic bulk message or burst
            const std::uint8_t kind = script.byte();
            const std::size_t n = std::size_t{script.byte()} << 8 | script.byte();
            std::vector<unsigned char> bytes;
            if (kind & 1)
                bytes.push_back(0xF0);
            for (std::size_t i = 0; i < n; ++i)
                bytes.push_back(static_cast<unsigned char>((kind & 2) ? 0xF8 + (i % 8) : (i * 7 + kind) & 0x7F));
            if (kind & 4)
                bytes.push_back(0xF7);
            check(queue.push(bytes.data(), bytes.size()) == model.push(bytes), "bulk push asks for a wake-up");
            break;
        }
        case 4: {
            const std::size_t n = 1 + (std::size_t{script.byte()} << 8 | script.byte());
            queue.setSysexBufferSize(n);
            model.setLimit(n);
            check(queue.sysexBufferSize() == n, "buffer size");
            break;
        }
        case 5: {
            const std::uint8_t status = script.byte();
            const bool drop = script.byte() & 1;
            queue.setFilter(status, drop);
            model.setDrop(status, drop);
            break;
        }
        case 6: {
            const bool on = script.byte() & 1;
            queue.setDelivering(on);
            model.setDelivering(on);
            break;
        }
        case 7: {
            // Odd counts take the messages out whole, as the port's reader does.
            const int n = script.byte() % 16;
            for (int i = n / 2; i >= 0; --i) {
                if (n % 2 == 0) {
                    check(queue.pop() == model.pop(), "pop");
                    continue;
                }
                const ByteString expected = model.queue().empty() ? ByteString() : model.queue().front();
                ByteString out = "stale";
                const bool taken = queue.popFront(out);
                check(taken == model.pop(), "popFront");
                check(out == (taken ? expected : ByteString("stale")), "popFront's message");
            }
            break;
        }
        case 8:
            check(queue.takeWake() == model.takeWake(), "takeWake");
            check(queue.takeOverflow() == model.takeOverflow(), "takeOverflow");
            check(queue.takeLoss() == model.takeLoss(), "takeLoss");
            break;
        case 9: {  // the MIDI system reports loss
            const std::size_t events = script.byte() % 4;
            queue.noteLoss(events);
            model.noteLoss(events);
            break;
        }
        default:
            queue.clear();
            model.clear();
            break;
        }
        check(queue.count() == model.queue().size(), "count");
        check(queue.front() == (model.queue().empty() ? ByteString() : model.queue().front()), "front");
    }
    // Everything left, in order.
    while (!model.queue().empty()) {
        check(queue.front() == model.queue().front(), "drained message");
        check(queue.pop() && model.pop(), "drain");
    }
    check(queue.count() == 0 && !queue.pop(), "drained");
    return 0;
}
