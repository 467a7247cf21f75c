// SPDX-License-Identifier: GPL-3.0-or-later
#include "TransmitPlan.h"

#include <algorithm>

namespace gt3sim {

TransmitPlan::TransmitPlan(const Bytes& stream, std::size_t piece, bool din, std::chrono::microseconds pause)
    : din_(din), pauseUs_(pause.count())
{
    piece = std::max<std::size_t>(piece, 1);
    Bytes current;
    bool inSysex = false, started = false;
    const auto flush = [&](bool ends) {
        if (!current.empty()) add(std::move(current), started, ends);
        current.clear();
        started = false;
    };
    for (const unsigned char b : stream) {
        if (b >= 0xF8) {  // realtime cuts into System Exclusive, and goes ahead of a short message
            if (inSysex) flush(false);
            add({b}, false, false);
            continue;
        }
        if (b >= 0x80 && b != 0xF7) {  // a status starts a message (and ends any before it)
            flush(true);
            inSysex = b == 0xF0;
            started = true;
        } else if (current.empty() && !inSysex && b < 0x80) {
            started = true;  // running status
        }
        current.push_back(b);
        if (b == 0xF7) {
            inSysex = false;
            flush(true);
        } else if (inSysex && current.size() >= piece) {
            flush(false);
        }
    }
    flush(true);
}

void TransmitPlan::add(Bytes bytes, bool startsMessage, bool endsMessage)
{
    std::int64_t start = 0;
    if (din_) {
        start = wireFree_;
        if (startsMessage && pauseDue_) start += pauseUs_;
        wireFree_ = start + static_cast<std::int64_t>(bytes.size()) * 320;
        if (startsMessage) pauseDue_ = false;
        if (endsMessage) pauseDue_ = true;
    }
    if (startsMessage) ++messages_;
    bytes_ += bytes.size();
    events_.push_back({std::move(bytes), start});
}

}  // namespace gt3sim
