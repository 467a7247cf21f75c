// SPDX-License-Identifier: GPL-3.0-or-later
#include "TransmitPlan.h"

#include <algorithm>

namespace gt3sim {

namespace {

//! Data bytes that follow `status` in a short message.
std::size_t dataBytesOf(unsigned char status)
{
    if (status < 0xC0 || (status >= 0xE0 && status < 0xF0) || status == 0xF2) return 2;
    if (status < 0xE0 || status == 0xF1 || status == 0xF3) return 1;
    return 0;
}

}  // namespace

TransmitPlan::TransmitPlan(const Bytes& stream, std::size_t piece, bool din, std::chrono::microseconds pause)
    : din_(din), pauseUs_(pause.count())
{
    piece = std::max<std::size_t>(piece, 1);
    Bytes current;
    bool inSysex = false, started = false;
    unsigned char running = 0;
    std::size_t need = 0;  // data bytes the current short message still needs
    const auto flush = [&](bool ends) {
        if (!current.empty()) add(std::move(current), started, ends);
        current.clear();
        started = false;
    };
    for (const unsigned char b : stream) {
        if (b >= 0xF8) {  // realtime cuts into System Exclusive, and between the bytes of nothing else
            if (inSysex) flush(false);
            add({b}, false, false);
            continue;
        }
        if (b >= 0x80 && b != 0xF7) {  // a status starts a message (and cuts off one left open)
            flush(true);
            inSysex = b == 0xF0;
            running = b < 0xF0 ? b : 0;
            need = inSysex ? 0 : dataBytesOf(b);
            started = true;
        } else if (!inSysex && current.empty() && b < 0x80) {
            started = true;  // running status, or stray data
            need = running ? dataBytesOf(running) : 0;
        }
        current.push_back(b);
        if (b == 0xF7) {
            inSysex = false;
            flush(true);
        } else if (inSysex) {
            if (current.size() >= piece) flush(false);
        } else if (b >= 0x80 ? need == 0 : need > 0 && --need == 0) {
            flush(true);  // a short message goes as soon as it is whole
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
