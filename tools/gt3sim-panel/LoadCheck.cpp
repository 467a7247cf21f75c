// SPDX-License-Identifier: GPL-3.0-or-later
#include "LoadCheck.h"

#include <cstdio>
#include <vector>

namespace gt3sim {
namespace {

constexpr std::size_t Overhead = 12;  // F0 41 dev 00 1B 12, four address bytes, checksum, F7

std::string counted(std::size_t n, const char* one, const char* many)
{
    return std::to_string(n) + ' ' + (n == 1 ? one : many);
}

}  // namespace

void LoadCheck::feed(const unsigned char* bytes, std::size_t size, std::int64_t stampUs)
{
    StreamCheck::feed(bytes, size, stampUs);
    for (std::size_t i = 0; i < size; ++i) {
        const unsigned char b = bytes[i];
        if (b >= 0xF8) continue;  // realtime may sit inside a message
        if (b == 0xF0) {
            message_.assign(1, b);
            inSysex_ = true;
        } else if (inSysex_ && b == 0xF7) {
            message_.push_back(b);
            inSysex_ = false;
            endOfMessage();
        } else if (inSysex_ && b < 0x80) {
            message_.push_back(b);
        } else {
            inSysex_ = false;  // the stream check counts the broken framing
        }
    }
}

void LoadCheck::endOfMessage()
{
    const Bytes& m = message_;
    const bool dataSet = m.size() > Overhead && m[1] == 0x41 && m[3] == 0x00 && m[4] == 0x1B && m[5] == 0x12;
    if (!dataSet) return;
    const std::uint32_t start = std::uint32_t{m[6]} << 21 | std::uint32_t{m[7]} << 14 | std::uint32_t{m[8]} << 7 | m[9];
    // Each block lands after the one before; one that goes back would overwrite it.
    if (haveEnd_ && start < end_) ++addressErrors_;
    end_ = start + static_cast<std::uint32_t>(m.size() - Overhead);
    haveEnd_ = true;
}

std::string LoadCheck::report() const
{
    if (bytes() == 0) return "nothing received";
    std::string text = counted(messages(), "message", "messages") + ", " + counted(bytes(), "byte", "bytes");
    if (accepted()) return text + ", checksums OK";
    std::vector<std::string> wrong;
    if (checksumErrors()) wrong.push_back(counted(checksumErrors(), "bad checksum", "bad checksums"));
    if (framingErrors() || messages() == 0)
        wrong.push_back(counted(framingErrors(), "framing error", "framing errors"));
    if (addressErrors_) wrong.push_back(counted(addressErrors_, "address out of order", "addresses out of order"));
    if (shortPauses()) {
        char shortest[96];
        std::snprintf(shortest, sizeof shortest, " under %lld ms (shortest %.1f ms)",
                      static_cast<long long>(minPauseUs_ / 1000),
                      static_cast<double>(minPauseUs()) / 1000.0);
        wrong.push_back(counted(shortPauses(), "pause", "pauses") + shortest);
    }
    text += ": ";
    for (std::size_t i = 0; i < wrong.size(); ++i) text += (i ? ", " : "") + wrong[i];
    return text;
}

std::string LoadCheck::summary() const
{
    char line[256];
    std::snprintf(line, sizeof line,
                  "messages=%zu bytes=%zu checksum_errors=%zu framing_errors=%zu address_errors=%zu short_pauses=%zu "
                  "min_pause_us=%lld fingerprint=%u ok=%d",
                  messages(), bytes(), checksumErrors(), framingErrors(), addressErrors_,
                  shortPauses(), static_cast<long long>(minPauseUs()), fingerprint(recorded()),
                  accepted() ? 1 : 0);
    return line;
}

std::uint32_t fingerprint(const Bytes& bytes)
{
    std::uint32_t h = 2166136261u;
    for (const unsigned char b : bytes) h = (h ^ b) * 16777619u;
    return h;
}

}  // namespace gt3sim
