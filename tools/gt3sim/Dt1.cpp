// SPDX-License-Identifier: GPL-3.0-or-later
#include "Dt1.h"

#include <array>
#include <numeric>
#include <random>

namespace gt3sim {
namespace {

constexpr std::size_t Overhead = 12;  // F0 41 dev 00 1B 12, four address bytes, checksum, F7
// A user patch goes out as three full blocks and a short one; patches follow the
// system area at 0A 00 00 00, one 7-bit page apart.
constexpr std::array<std::size_t, 4> PatchBlocks{256, 256, 256, 100};
constexpr std::uint32_t FirstPatch = 0x0Au << 21;
constexpr std::uint32_t PatchStride = 1u << 14;

// Four 7-bit address bytes from a running byte count.
std::uint32_t packed(std::uint32_t linear)
{
    return ((linear >> 21) & 0x7F) << 24 | ((linear >> 14) & 0x7F) << 16 | ((linear >> 7) & 0x7F) << 8 | (linear & 0x7F);
}

}  // namespace

unsigned char rolandChecksum(const unsigned char* first, const unsigned char* last)
{
    const unsigned sum = std::accumulate(first, last, 0u);
    return static_cast<unsigned char>((128 - sum % 128) & 0x7F);
}

Bytes dataSet(unsigned device, std::uint32_t address, const Bytes& data)
{
    Bytes m{0xF0, 0x41, static_cast<unsigned char>(device & 0x7F), 0x00, 0x1B, 0x12};
    for (int shift = 24; shift >= 0; shift -= 8) m.push_back(static_cast<unsigned char>((address >> shift) & 0x7F));
    m.insert(m.end(), data.begin(), data.end());
    m.push_back(rolandChecksum(m.data() + 6, m.data() + m.size()));
    m.push_back(0xF7);
    return m;
}

bool badChecksum(const Bytes& m)
{
    const bool isDataSet = m.size() > Overhead && m[0] == 0xF0 && m[1] == 0x41 && m[5] == 0x12 && m.back() == 0xF7;
    return isDataSet && rolandChecksum(m.data() + 6, m.data() + m.size() - 2) != m[m.size() - 2];
}

Bytes generateDump(std::size_t size, std::size_t block, unsigned device, unsigned seed, std::string* error)
{
    if (size < Overhead + 1) {
        *error = "a dump needs at least " + std::to_string(Overhead + 1) + " bytes";
        return {};
    }
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> value(0, 127);
    Bytes dump;
    std::size_t patch = 0, blockInPatch = 0;
    std::uint32_t offset = 0;
    while (dump.size() < size) {
        const std::size_t left = size - dump.size();
        std::size_t length = block ? block : PatchBlocks[blockInPatch];
        if (left <= length + 2 * Overhead) {
            // Whatever would remain is too short for a message of its own: share it out.
            length = left - Overhead <= std::max<std::size_t>(length, 256) ? left - Overhead : (left - Overhead) / 2;
        }
        Bytes data(length);
        for (unsigned char& b : data) b = static_cast<unsigned char>(value(random));
        const Bytes m = dataSet(device, packed(FirstPatch + static_cast<std::uint32_t>(patch) * PatchStride + offset), data);
        dump.insert(dump.end(), m.begin(), m.end());
        offset += static_cast<std::uint32_t>(length);
        if (block || ++blockInPatch == PatchBlocks.size()) {
            ++patch;
            blockInPatch = 0;
            offset = 0;
        }
    }
    return dump;
}

}  // namespace gt3sim
