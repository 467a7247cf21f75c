// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Reads a dump and says what it holds: its messages, cut as Send cuts them (up to
// and including each F7), what each one is, and what is wrong where. Widget-free
// and linear in the dump's length: one pass, no copy of the bytes.

#include "platform/ByteString.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tandrel {

//! What the dump as a whole earns.
enum class Verdict : std::uint8_t {
    Empty,     //!< no dump held
    Good,      //!< a well-formed GT-3 dump, every checksum valid
    Warnings,  //!< not GT-3 or not Roland data, trailing bytes, address gaps
    Errors,    //!< bad checksums or broken framing
};

//! What can be wrong with a message; one message may carry several.
enum Problem : std::uint8_t {
    kNotFramed = 1 << 0,     //!< does not begin with F0
    kStatusInside = 1 << 1,  //!< a status byte between its first byte and its F7
    kBadChecksum = 1 << 2,   //!< a Roland data set whose sum is not 0 modulo 128
    kNotRoland = 1 << 3,     //!< another maker's message
    kNotGT3 = 1 << 4,        //!< Roland, but a model other than the GT-3's 00 1B
    kAddressGap = 1 << 5,    //!< does not continue the address range before it
};
//! The problems that damage a message: sending it could leave wrong data behind.
inline constexpr std::uint8_t kDamage = kNotFramed | kStatusInside | kBadChecksum;

enum class Checksum : std::uint8_t {
    None,   //!< not a Roland data set: nothing to check
    Valid,
    Bad,
};

inline constexpr unsigned char kRoland = 0x41;
inline constexpr unsigned char kDataSet = 0x12;
//! The GT-3's model ID, 00 1B, packed one byte a place.
inline constexpr std::uint32_t kGT3Model = 0x001B;

struct MessageReport {
    std::size_t offset = 0;
    std::size_t length = 0;  //!< up to and including the F7
    //! The maker's ID: one byte, or three (00 xx yy) packed; meaningful when makerLength > 0.
    std::uint32_t maker = 0;
    std::uint8_t makerLength = 0;
    //! Roland only: the model ID (leading 00 bytes and one more), packed one byte a place.
    std::uint32_t model = 0;
    std::uint8_t modelLength = 0;
    bool hasCommand = false;
    std::uint8_t command = 0;
    //! Roland data sets: the first four bytes after the command, packed one byte a place.
    bool hasAddress = false;
    std::uint32_t address = 0;
    //! The bytes between the four address bytes and the checksum.
    std::size_t dataLength = 0;
    Checksum checksum = Checksum::None;
    std::uint8_t problems = 0;
    //! Where the first damage lies: the stray first byte, the status byte, the checksum.
    std::size_t problemOffset = 0;

    bool damaged() const { return (problems & kDamage) != 0; }
    bool gt3() const { return modelLength == 2 && model == kGT3Model; }
};

struct DumpReport {
    std::size_t bytes = 0;
    std::vector<MessageReport> messages;
    //! Bytes after the last F7 (or the whole dump when it has none): never sent.
    std::size_t trailingOffset = 0;
    std::size_t trailingLength = 0;
    //! Messages carrying each problem.
    std::size_t notFramed = 0, statusInside = 0, badChecksums = 0, notRoland = 0, notGT3 = 0, addressGaps = 0;
    //! Roland messages, and Roland data sets (the ones whose checksums are checked).
    std::size_t roland = 0, dataSets = 0;
    std::size_t damaged = 0;
    Verdict verdict = Verdict::Empty;

    //! One line: "546 messages, 125,000 bytes; every checksum valid".
    std::string summary() const;
};

//! Verifies `dump`. Time linear in its length; the report holds no dump bytes.
DumpReport VerifyDump(const ByteString& dump);
DumpReport VerifyDump(const unsigned char* dump, std::size_t size);

//! Four address bytes (7 bits each) as one running number.
inline std::uint32_t LinearAddress(std::uint32_t packed)
{
    return ((packed >> 24) & 0x7F) << 21 | ((packed >> 16) & 0x7F) << 14 | ((packed >> 8) & 0x7F) << 7 | (packed & 0x7F);
}

//! "1,234,567".
std::string GroupedNumber(std::size_t n);
//! "00 1B": `length` bytes of `packed`, highest first, in hex.
std::string HexBytes(std::uint32_t packed, unsigned length);

}  // namespace tandrel
