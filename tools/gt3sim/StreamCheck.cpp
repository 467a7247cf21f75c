// SPDX-License-Identifier: GPL-3.0-or-later
#include "StreamCheck.h"

#include <algorithm>
#include <cstdio>

namespace gt3sim {
namespace {

constexpr std::int64_t ByteUs = 320;

std::size_t dataBytesOf(unsigned char status)
{
    if (status < 0xC0 || (status >= 0xE0 && status < 0xF0) || status == 0xF2) return 2;
    if (status < 0xE0 || status == 0xF1 || status == 0xF3) return 1;
    return 0;
}

}  // namespace

void StreamCheck::feed(const unsigned char* bytes, std::size_t size, std::int64_t stampUs)
{
    if (size == 0) return;
    ++events_;
    if (firstStamp_ < 0) firstStamp_ = stampUs;
    lastStamp_ = stampUs;
    const std::int64_t start = std::max(stampUs, wireFree_);
    if (firstWire_ < 0) firstWire_ = start;
    for (std::size_t i = 0; i < size; ++i) {
        const unsigned char b = bytes[i];
        const std::int64_t at = start + static_cast<std::int64_t>(i) * ByteUs;  // when this byte starts on the wire
        recorded_.push_back(b);
        if (b >= 0xF8) {
            ++realtime_;
            continue;
        }
        if (inSysex_) {
            if (b < 0x80) {
                message_.push_back(b);
                continue;
            }
            if (b == 0xF7) {
                message_.push_back(b);
                inSysex_ = false;
                ++sysex_;
                if (badChecksum(message_)) ++checksumErrors_;
                endMessage(at + ByteUs);
                continue;
            }
            ++framingErrors_;  // cut off by another status
            inSysex_ = false;
            endMessage(at);
        }
        if (b == 0xF0) {
            startMessage(at);
            inSysex_ = true;
            running_ = 0;
            message_.assign(1, b);
        } else if (b >= 0x80) {
            if (b == 0xF7) {
                ++framingErrors_;  // an end without a start
                continue;
            }
            startMessage(at);
            running_ = b < 0xF0 ? b : 0;
            need_ = dataBytesOf(b);
            if (need_ == 0) {
                ++other_;
                endMessage(at + ByteUs);
            }
        } else if (need_ > 0 || running_ != 0) {
            if (need_ == 0) {
                startMessage(at);
                need_ = dataBytesOf(running_);
            }
            if (--need_ == 0) {
                ++other_;
                endMessage(at + ByteUs);
            }
        } else {
            ++framingErrors_;  // data with no status to belong to
        }
    }
    wireFree_ = start + static_cast<std::int64_t>(size) * ByteUs;
}

void StreamCheck::startMessage(std::int64_t wireUs)
{
    if (lastEnd_ < 0) return;
    const std::int64_t pause = wireUs - lastEnd_;
    if (minPauseSeen_ < 0 || pause < minPauseSeen_) minPauseSeen_ = pause;
    if (pause < minPause_) ++shortPauses_;
}

void StreamCheck::endMessage(std::int64_t wireUs)
{
    lastEnd_ = wireUs;
}

void StreamCheck::finish()
{
    if (inSysex_ || need_ > 0) ++framingErrors_;
    inSysex_ = false;
    need_ = 0;
}

bool StreamCheck::clean() const
{
    return checksumErrors_ == 0 && framingErrors_ == 0 && shortPauses_ == 0;
}

std::string StreamCheck::summary() const
{
    char line[512];
    std::snprintf(line, sizeof line,
                  "messages=%zu other=%zu realtime=%zu bytes=%zu events=%zu checksum_errors=%zu framing_errors=%zu "
                  "min_pause_us=%lld short_pauses=%zu span_us=%lld wire_span_us=%lld",
                  sysex_, other_, realtime_, recorded_.size(), events_, checksumErrors_, framingErrors_,
                  static_cast<long long>(minPauseSeen_), shortPauses_,
                  static_cast<long long>(lastStamp_ - firstStamp_),
                  static_cast<long long>(firstWire_ < 0 ? 0 : wireFree_ - firstWire_));
    return line;
}

}  // namespace gt3sim
