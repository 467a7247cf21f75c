// SPDX-License-Identifier: GPL-3.0-or-later
#include "BenchDump.h"

#include <algorithm>
#include <cstdint>

namespace tandrel::bench {

namespace {

constexpr std::size_t kFraming = 12;  // F0 41 dev 00 1B 12, 4 address bytes, checksum, F7
constexpr std::size_t kSmallest = kFraming + 1;
constexpr std::size_t kFullData = 128;

// A small generator of our own, so every platform makes the same dump.
class Lcg {
public:
    explicit Lcg(unsigned seed) : state_(seed * 2654435761u + 1) {}
    std::uint32_t next()
    {
        state_ = state_ * 1664525u + 1013904223u;
        return state_ >> 8;
    }

private:
    std::uint32_t state_;
};

void appendMessage(std::string& out, std::uint32_t address, std::size_t dataBytes, Lcg& rng)
{
    const unsigned char head[] = {0xF0, 0x41, 0x10, 0x00, 0x1B, 0x12};
    out.append(reinterpret_cast<const char*>(head), sizeof head);
    unsigned sum = 0;
    for (int shift = 21; shift >= 0; shift -= 7) {
        const unsigned b = (address >> shift) & 0x7F;
        sum += b;
        out.push_back(static_cast<char>(b));
    }
    for (std::size_t i = 0; i < dataBytes; ++i) {
        const unsigned b = rng.next() & 0x7F;
        sum += b;
        out.push_back(static_cast<char>(b));
    }
    out.push_back(static_cast<char>((128 - sum % 128) & 0x7F));
    out.push_back(static_cast<char>(0xF7));
}

}  // namespace

std::string MakeDump(std::size_t bytes, unsigned seed)
{
    std::string out;
    out.reserve(bytes);
    Lcg rng(seed);
    std::uint32_t address = 0;
    std::size_t patchLeft = 0;
    // Invariant: what is left is 0 or at least one smallest message.
    while (out.size() < bytes) {
        const std::size_t left = bytes - out.size();
        if (patchLeft == 0) {
            patchLeft = 150 + rng.next() % 251;
            address = (address & ~0x3FFFu) + 0x4000;
        }
        std::size_t data = patchLeft < kFullData ? patchLeft : kFullData;
        std::size_t length = data + kFraming;
        if (length > left || left - length < kSmallest) {
            length = left <= kFullData + kFraming ? left : left - kSmallest;
            data = length - kFraming;
        }
        appendMessage(out, address, data, rng);
        address += static_cast<std::uint32_t>(data);
        patchLeft = data >= patchLeft ? 0 : patchLeft - data;
    }
    return out;
}

std::vector<std::size_t> MessageLengths(const std::string& dump)
{
    std::vector<std::size_t> lengths;
    std::size_t start = 0;
    for (std::size_t i = 0; i < dump.size(); ++i)
        if (static_cast<unsigned char>(dump[i]) == 0xF7) {
            lengths.push_back(i + 1 - start);
            start = i + 1;
        }
    return lengths;
}

std::size_t FirstDifference(const std::string& a, const std::string& b)
{
    const std::size_t n = std::min(a.size(), b.size());
    std::size_t at = 0;
    while (at < n && a[at] == b[at])
        ++at;
    return at;
}

}  // namespace tandrel::bench
