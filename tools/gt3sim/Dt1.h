// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Roland data-set (DT1) messages as the GT-3 sends them in a bulk dump:
// F0 41 <device> 00 1B 12 <address: 4 bytes> <data…> <checksum> F7.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace gt3sim {

using Bytes = std::vector<unsigned char>;

//! (128 − (sum of the bytes mod 128)) & 7F, over the address and data bytes.
unsigned char rolandChecksum(const unsigned char* first, const unsigned char* last);
//! One data-set message; `address` is four 7-bit bytes packed into 28 bits.
Bytes dataSet(unsigned device, std::uint32_t address, const Bytes& data);
//! True when `message` is a complete data-set message whose checksum is wrong.
bool badChecksum(const Bytes& message);
//! A bulk dump of exactly `size` bytes: the user patches one after another, each in
//! blocks of data-set messages (or messages of `block` data bytes, when not 0).
//! Empty, with the reason in `error`, when `size` cannot be made of whole messages.
Bytes generateDump(std::size_t size, std::size_t block, unsigned device, unsigned seed, std::string* error);

}  // namespace gt3sim
