// SPDX-License-Identifier: GPL-3.0-or-later
// The dump verifier against a plain model written from what a dump should be:
// pieces up to each F7, what each piece's bytes say, runs of GT-3 data sets.
//
// Input: the dump itself.
#include "fuzz/ModelCheck.h"
#include "dump/DumpVerifier.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace tandrel;

namespace {

using fuzz::check;

struct Piece {
    std::size_t offset = 0;
    std::vector<unsigned char> bytes;  // with its F7
    int problems = 0;
    std::size_t damageAt = 0;
    Checksum checksum = Checksum::None;
    bool gt3 = false, roland = false;
    std::uint32_t linear = 0;
    std::size_t data = 0;
    bool addressed = false;
};

Piece modelPiece(std::size_t offset, std::vector<unsigned char> bytes)
{
    Piece p;
    p.offset = offset;
    p.bytes = std::move(bytes);
    if (p.bytes.front() != 0xF0) {
        p.problems = kNotFramed;
        p.damageAt = offset;
        return p;
    }
    // The bytes between F0 and F7, cut at the first status byte among them.
    std::vector<unsigned char> inside(p.bytes.begin() + 1, p.bytes.end() - 1);
    std::vector<unsigned char> clean;
    for (std::size_t i = 0; i < inside.size(); ++i) {
        if (inside[i] >= 0x80) {
            p.problems |= kStatusInside;
            p.damageAt = offset + 1 + i;
            break;
        }
        clean.push_back(inside[i]);
    }
    if (clean.empty())
        return p;
    if (clean[0] != 0x41) {
        p.problems |= kNotRoland;
        return p;
    }
    p.roland = true;
    // 41, device, then up to three 00 bytes and the model's last byte, then the command.
    std::size_t i = 2, zeros = 0;
    while (i < clean.size() && clean[i] == 0 && zeros < 3) {
        ++i;
        ++zeros;
    }
    if (i >= clean.size())
        return p;
    p.gt3 = zeros == 1 && clean[i] == 0x1B;
    if (!p.gt3)
        p.problems |= kNotGT3;
    ++i;
    if (i >= clean.size() || clean[i] != 0x12 || (p.problems & kStatusInside))
        return p;
    ++i;
    const std::size_t rest = inside.size() - i;
    unsigned sum = 0;
    for (std::size_t k = i; k < inside.size(); ++k)
        sum += inside[k];
    if (rest >= 5) {
        p.addressed = true;
        p.linear = std::uint32_t(inside[i]) << 21 | std::uint32_t(inside[i + 1]) << 14 | std::uint32_t(inside[i + 2]) << 7 |
                   inside[i + 3];
        p.data = rest - 5;
    }
    if (rest >= (p.gt3 ? 5u : 2u) && sum % 128 == 0) {
        p.checksum = Checksum::Valid;
    } else {
        p.checksum = Checksum::Bad;
        p.problems |= kBadChecksum;
        p.damageAt = offset + p.bytes.size() - 2;
    }
    return p;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<Piece> pieces;
    std::vector<unsigned char> piece;
    std::size_t start = 0;
    for (std::size_t i = 0; i < size; ++i) {
        piece.push_back(data[i]);
        if (data[i] == 0xF7) {
            pieces.push_back(modelPiece(start, piece));
            piece.clear();
            start = i + 1;
        }
    }
    // Address gaps: a GT-3 data set with a good checksum that neither continues the
    // one just before it (same device) nor starts a page.
    for (std::size_t k = 1; k < pieces.size(); ++k) {
        Piece& p = pieces[k];
        const Piece& q = pieces[k - 1];
        const auto fine = [](const Piece& x) { return x.gt3 && x.checksum == Checksum::Valid && x.addressed; };
        if (fine(p) && fine(q) && p.bytes[2] == q.bytes[2] && p.linear != q.linear + q.data && (p.linear & 0x3FFF) != 0)
            p.problems |= kAddressGap;
    }

    const DumpReport r = VerifyDump(data, size);
    check(r.bytes == size, "bytes");
    check(r.messages.size() == pieces.size(), "message count");
    std::size_t damaged = 0, warned = 0, roland = 0;
    for (std::size_t k = 0; k < pieces.size(); ++k) {
        const MessageReport& m = r.messages[k];
        const Piece& p = pieces[k];
        check(m.offset == p.offset && m.length == p.bytes.size(), "a message's place");
        check(m.problems == p.problems, "a message's problems");
        check(m.checksum == p.checksum, "a message's checksum");
        check(!m.damaged() || m.problemOffset == p.damageAt, "where the damage lies");
        check(!p.addressed || (m.hasAddress && LinearAddress(m.address) == p.linear && m.dataLength == p.data),
              "a data set's address and length");
        damaged += m.damaged();
        warned += (p.problems & ~kDamage) != 0;
        roland += p.roland;
    }
    check(r.damaged == damaged, "damaged count");
    check(r.roland == roland, "Roland count");
    check(r.trailingOffset == start && r.trailingLength == size - start, "bytes after the last F7");
    const Verdict expected = size == 0                          ? Verdict::Empty
                             : damaged > 0                      ? Verdict::Errors
                             : warned > 0 || r.trailingLength ? Verdict::Warnings
                                                                : Verdict::Good;
    check(r.verdict == expected, "verdict");
    check(size == 0 || r.summary().rfind(GroupedNumber(pieces.size()) + (pieces.size() == 1 ? " message, " : " messages, "), 0) == 0,
          "the summary's count");
    return 0;
}
