// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/MidiByteRing.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace tandrel {

MidiByteRing::MidiByteRing(std::size_t capacity)
    : mask_(std::bit_ceil(capacity < 2 * HeaderBytes ? 2 * HeaderBytes : capacity) - 1),
      bytes_(std::make_unique_for_overwrite<unsigned char[]>(mask_ + 1))  // untouched pages cost nothing
{
}

void MidiByteRing::touch()
{
    std::memset(bytes_.get(), 0, capacity());
}

void MidiByteRing::copyIn(std::uint64_t at, const unsigned char* from, std::size_t size)
{
    const std::size_t start = at & mask_, first = std::min(size, mask_ + 1 - start);
    std::memcpy(bytes_.get() + start, from, first);
    std::memcpy(bytes_.get(), from + first, size - first);
}

void MidiByteRing::copyOut(std::uint64_t at, unsigned char* to, std::size_t size) const
{
    const std::size_t start = at & mask_, first = std::min(size, mask_ + 1 - start);
    std::memcpy(to, bytes_.get() + start, first);
    std::memcpy(to + first, bytes_.get(), size - first);
}

bool MidiByteRing::write(const unsigned char* bytes, std::size_t size)
{
    const std::uint64_t at = written_.load(std::memory_order_relaxed);
    const std::uint64_t free = capacity() - (at - read_.load(std::memory_order_acquire));
    if (size > free || free - size < HeaderBytes) {
        dropped_.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    const auto length = static_cast<std::uint32_t>(size);
    unsigned char header[HeaderBytes];
    std::memcpy(header, &length, HeaderBytes);
    copyIn(at, header, HeaderBytes);
    copyIn(at + HeaderBytes, bytes, size);
    written_.store(at + HeaderBytes + size, std::memory_order_release);
    return true;
}

bool MidiByteRing::read(std::vector<unsigned char>& out)
{
    const std::uint64_t at = read_.load(std::memory_order_relaxed);
    if (written_.load(std::memory_order_acquire) == at) return false;
    std::uint32_t length = 0;
    unsigned char header[HeaderBytes];
    copyOut(at, header, HeaderBytes);
    std::memcpy(&length, header, HeaderBytes);
    out.resize(length);
    copyOut(at + HeaderBytes, out.data(), length);
    read_.store(at + HeaderBytes + length, std::memory_order_release);
    return true;
}

}  // namespace tandrel
