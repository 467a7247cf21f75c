// SPDX-License-Identifier: GPL-3.0-or-later
#include "dump/DumpVerifier.h"

#include <cstring>

namespace tandrel {

namespace {

constexpr unsigned char kStart = 0xF0;
constexpr unsigned char kEnd = 0xF7;

std::string counted(std::size_t n, const char* one, const char* many)
{
    return GroupedNumber(n) + ' ' + (n == 1 ? one : many);
}

//! Reads one message's header and checksum; `m.offset` and `m.length` are set, and
//! `body` is the message without its F7.
void readMessage(const unsigned char* body, std::size_t size, MessageReport& m)
{
    if (body[0] != kStart) {
        m.problems |= kNotFramed;
        m.problemOffset = m.offset;
        return;
    }
    // One pass over the bytes inside: whether any is a status byte, and their sum,
    // of which a Roland checksum needs all but the header's.
    unsigned all = 0, high = 0;
    for (std::size_t i = 1; i < size; ++i) {
        all += body[i];
        high |= body[i];
    }
    if (high & 0x80) {
        for (std::size_t i = 1; i < size; ++i) {
            if (body[i] & 0x80) {
                m.problems |= kStatusInside;
                m.problemOffset = m.offset + i;
                break;
            }
        }
    }
    const std::size_t stop = (m.problems & kStatusInside) ? m.problemOffset - m.offset : size;
    std::size_t at = 1;
    if (at >= stop)
        return;
    if (body[at] == 0x00 && at + 2 < stop) {
        m.maker = std::uint32_t(body[at + 1]) << 8 | body[at + 2];
        m.makerLength = 3;
    } else {
        m.maker = body[at];
        m.makerLength = 1;
    }
    if (m.makerLength != 1 || m.maker != kRoland) {
        m.problems |= kNotRoland;
        return;
    }
    // F0 41 <device> <model: any 00 bytes and one more> <command>
    at = 3;
    std::size_t zeros = 0;
    while (at < stop && body[at] == 0x00 && zeros < 3) {
        ++at;
        ++zeros;
    }
    if (at >= stop)
        return;
    m.modelLength = static_cast<std::uint8_t>(zeros + 1);
    m.model = body[at];
    ++at;
    if (!m.gt3())
        m.problems |= kNotGT3;
    if (at >= stop)
        return;
    m.hasCommand = true;
    m.command = body[at];
    ++at;
    if (m.command != kDataSet || (m.problems & kStatusInside))
        return;

    // Address, data and checksum sum to 0 modulo 128.
    const std::size_t checked = size - at;
    unsigned sum = all;
    for (std::size_t i = 1; i < at; ++i)
        sum -= body[i];
    const bool whole = m.gt3() ? checked >= 5 : checked >= 2;
    if (checked >= 5) {
        m.hasAddress = true;
        m.address = std::uint32_t(body[at]) << 24 | std::uint32_t(body[at + 1]) << 16 | std::uint32_t(body[at + 2]) << 8 |
                    body[at + 3];
        m.dataLength = checked - 5;
    }
    if (whole && sum % 128 == 0) {
        m.checksum = Checksum::Valid;
    } else {
        m.checksum = Checksum::Bad;
        m.problems |= kBadChecksum;
        m.problemOffset = m.offset + size - 1;
    }
}

}  // namespace

DumpReport VerifyDump(const ByteString& dump)
{
    return VerifyDump(reinterpret_cast<const unsigned char*>(dump.data()), dump.size());
}

DumpReport VerifyDump(const unsigned char* dump, std::size_t size)
{
    DumpReport r;
    r.bytes = size;
    // The address the next data set of a run should start at, and the device it came from.
    bool inRun = false;
    std::uint32_t expected = 0;
    std::uint8_t device = 0;

    std::size_t from = 0;
    while (from < size) {
        const void* hit = std::memchr(dump + from, kEnd, size - from);
        if (!hit)
            break;
        const std::size_t end = static_cast<std::size_t>(static_cast<const unsigned char*>(hit) - dump);
        MessageReport& m = r.messages.emplace_back();
        m.offset = from;
        m.length = end - from + 1;
        if (end > from)
            readMessage(dump + from, end - from, m);
        else {
            m.problems |= kNotFramed;  // a lone F7
            m.problemOffset = from;
        }

        // A lost message shows as a jump inside a run of GT-3 data sets. A new
        // patch starts a run at the top of a 7-bit page (two low bytes 00 00).
        const bool gt3Set = m.checksum == Checksum::Valid && m.gt3() && m.hasAddress;
        if (gt3Set) {
            const std::uint8_t unit = dump[from + 2];
            const std::uint32_t linear = LinearAddress(m.address);
            if (inRun && unit == device && linear != expected && (m.address & 0x7F7F) != 0)
                m.problems |= kAddressGap;
            inRun = true;
            device = unit;
            expected = linear + static_cast<std::uint32_t>(m.dataLength);
        } else {
            inRun = false;
        }

        r.notFramed += (m.problems & kNotFramed) != 0;
        r.statusInside += (m.problems & kStatusInside) != 0;
        r.badChecksums += (m.problems & kBadChecksum) != 0;
        r.notRoland += (m.problems & kNotRoland) != 0;
        r.notGT3 += (m.problems & kNotGT3) != 0;
        r.addressGaps += (m.problems & kAddressGap) != 0;
        r.roland += m.makerLength == 1 && m.maker == kRoland;
        r.dataSets += m.checksum != Checksum::None;
        r.damaged += m.damaged();
        from = end + 1;
    }
    r.trailingOffset = from;
    r.trailingLength = size - from;

    if (size == 0)
        r.verdict = Verdict::Empty;
    else if (r.damaged > 0)
        r.verdict = Verdict::Errors;
    else if (r.notRoland || r.notGT3 || r.addressGaps || r.trailingLength)
        r.verdict = Verdict::Warnings;
    else
        r.verdict = Verdict::Good;
    return r;
}

std::string DumpReport::summary() const
{
    if (verdict == Verdict::Empty)
        return "No dump held";
    std::string line = counted(messages.size(), "message", "messages") + ", " + counted(bytes, "byte", "bytes");
    auto add = [&](const std::string& part) { line += "; " + part; };
    if (dataSets > 0 && badChecksums == 0)
        add("every checksum valid");
    if (badChecksums)
        add(counted(badChecksums, "bad checksum", "bad checksums"));
    if (notFramed)
        add(counted(notFramed, "message not starting with F0", "messages not starting with F0"));
    if (statusInside)
        add(counted(statusInside, "message with a status byte inside", "messages with a status byte inside"));
    if (addressGaps)
        add(counted(addressGaps, "address gap", "address gaps"));
    if (trailingLength)
        add(counted(trailingLength, "byte after the last F7", "bytes after the last F7"));
    const std::size_t framed = messages.size() - notFramed;
    if (framed > 0 && roland == 0)
        add("not a Roland dump");
    else if (notRoland)
        add(counted(notRoland, "message not from Roland", "messages not from Roland"));
    if (roland > 0 && notGT3 == roland)
        add("not a GT-3 dump");
    else if (notGT3)
        add(counted(notGT3, "message not for the GT-3", "messages not for the GT-3"));
    return line;
}

std::string GroupedNumber(std::size_t n)
{
    std::string digits = std::to_string(n);
    for (std::size_t i = digits.size(); i > 3; i -= 3)
        digits.insert(i - 3, 1, ',');
    return digits;
}

std::string HexBytes(std::uint32_t packed, unsigned length)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string text;
    for (unsigned i = length; i-- > 0;) {
        const unsigned b = (packed >> (8 * i)) & 0xFF;
        if (!text.empty())
            text += ' ';
        text += kHex[b >> 4];
        text += kHex[b & 0xF];
    }
    return text;
}

}  // namespace tandrel
