// SPDX-License-Identifier: GPL-3.0-or-later
// The verifier against gt3sim's dumps, the same dumps damaged in known places, and
// real instruments' files read where they lie beside the source tree.
#include "Dt1.h"
#include "dump/DumpVerifier.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <cstdio>

using namespace tandrel;
using namespace std::string_literals;

namespace {

ByteString generated(std::size_t size, std::size_t block = 0, unsigned device = 0x10)
{
    std::string error;
    const gt3sim::Bytes dump = gt3sim::generateDump(size, block, device, 7, &error);
    EXPECT_TRUE(error.empty()) << error;
    return ByteString(dump.begin(), dump.end());
}

//! Where each message of a dump starts, found here without the verifier.
std::vector<std::size_t> starts(const ByteString& dump)
{
    std::vector<std::size_t> at{0};
    for (std::size_t i = 0; i + 1 < dump.size(); ++i)
        if (byteAt(dump, i) == 0xF7)
            at.push_back(i + 1);
    return at;
}

//! The messages that carry a problem, as (index, problems).
std::vector<std::pair<std::size_t, int>> problemRows(const DumpReport& r)
{
    std::vector<std::pair<std::size_t, int>> rows;
    for (std::size_t i = 0; i < r.messages.size(); ++i)
        if (r.messages[i].problems)
            rows.emplace_back(i, r.messages[i].problems);
    return rows;
}

TEST(DumpVerifier, Gt3simDumpsAreGood)
{
    const struct {
        std::size_t size, block;
        unsigned device;
    } cases[] = {{125000, 0, 0x10}, {13, 0, 0x10}, {40000, 64, 0x00}, {9000, 0, 0x7F}, {20000, 300, 0x10}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.size << " bytes, blocks of " << c.block);
        const ByteString dump = generated(c.size, c.block, c.device);
        const DumpReport r = VerifyDump(dump);
        const std::vector<std::size_t> at = starts(dump);
        EXPECT_EQ(r.verdict, Verdict::Good) << r.summary();
        ASSERT_EQ(r.messages.size(), at.size());
        for (std::size_t i = 0; i < at.size(); ++i) {
            const MessageReport& m = r.messages[i];
            EXPECT_EQ(m.offset, at[i]);
            EXPECT_EQ(m.length, (i + 1 < at.size() ? at[i + 1] : dump.size()) - at[i]);
            EXPECT_EQ(m.dataLength, m.length - 12);
            EXPECT_EQ(HexBytes(m.model, m.modelLength), "00 1B");
            EXPECT_EQ(m.checksum, Checksum::Valid);
            EXPECT_EQ(m.problems, 0) << "message " << i;
        }
        EXPECT_EQ(r.summary(), GroupedNumber(at.size()) + (at.size() == 1 ? " message, " : " messages, ") +
                                   GroupedNumber(c.size) + " bytes; every checksum valid");
    }
}

TEST(DumpVerifier, DamageIsFoundWhereItIs)
{
    const ByteString good = generated(30000);
    const std::vector<std::size_t> at = starts(good);
    ASSERT_GT(at.size(), 20u);
    auto erase = [&](std::size_t k) { return good.substr(0, at[k]) + good.substr(at[k + 1]); };
    auto change = [&](std::size_t where, char to) { ByteString d = good; d[where] = to; return d; };
    auto flip = [&](std::size_t where, int bit) { return change(where, char(good[where] ^ (1 << bit))); };
    // Patches go out in blocks of 256, 256, 256 and 100 data bytes: message 4 opens the second patch.
    const struct {
        const char* what;
        ByteString dump;
        Verdict verdict;
        std::vector<std::pair<std::size_t, int>> rows;
        std::size_t problemOffset;  // of the first problem row, where it is damage
    } cases[] = {
        {"a data bit of the first message", flip(at[0] + 40, 3), Verdict::Errors, {{0, kBadChecksum}}, at[1] - 2},
        {"a data bit in the middle", flip(at[9] + 11, 0), Verdict::Errors, {{9, kBadChecksum}}, at[10] - 2},
        {"the last checksum", flip(good.size() - 2, 6), Verdict::Errors, {{at.size() - 1, kBadChecksum}}, good.size() - 2},
        {"an address bit", flip(at[5] + 8, 1), Verdict::Errors, {{5, kBadChecksum}}, at[6] - 2},
        {"a removed message inside a patch", erase(2), Verdict::Warnings, {{2, kAddressGap}}, 0},
        {"a removed first block of a patch", erase(4), Verdict::Warnings, {{4, kAddressGap}}, 0},
        {"a removed last block of a patch: no hint", erase(3), Verdict::Good, {}, 0},
        {"a status byte inside", change(at[7] + 30, char(0xF8)), Verdict::Errors, {{7, kStatusInside}}, at[7] + 30},
        {"a lost F0", good.substr(0, at[6]) + good.substr(at[6] + 1), Verdict::Errors, {{6, kNotFramed}}, at[6]},
        {"stray bytes before a message", good.substr(0, at[3]) + "\x01\x02" + good.substr(at[3]), Verdict::Errors,
         {{3, kNotFramed}}, at[3]},
        {"another model", change(at[8] + 4, 0x1C), Verdict::Warnings, {{8, kNotGT3}}, 0},
        {"another maker", change(at[8] + 1, 0x43), Verdict::Warnings, {{8, kNotRoland}}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const DumpReport r = VerifyDump(c.dump);
        EXPECT_EQ(r.verdict, c.verdict) << r.summary();
        EXPECT_EQ(problemRows(r), c.rows);
        if (!c.rows.empty() && (c.rows[0].second & kDamage)) {
            EXPECT_EQ(r.messages[c.rows[0].first].problemOffset, c.problemOffset);
        }
        EXPECT_EQ(r.damaged, c.verdict == Verdict::Errors ? 1u : 0u);
        EXPECT_EQ(r.trailingLength, 0u);
    }
}

TEST(DumpVerifier, SummariesSayWhatIsWrongInWords)
{
    const ByteString gt3 = generated(1000);  // 1000 bytes in five messages
    const ByteString yamaha = "\xF0\x43\x00\x09\x20\x00\x63\x2A\xF7"s;
    const ByteString korgTail = "\xF0\x42\x30\x30\x4C\x00"s;
    const ByteString u220 = "\xF0\x41\x10\x2B\x12\x00\x00\x00\x0E\x72\xF7"s;
    const struct {
        const char* what;
        ByteString dump;
        Verdict verdict;
        const char* summary;
    } cases[] = {
        {"nothing", "", Verdict::Empty, "No dump held"},
        {"another maker's message", yamaha, Verdict::Warnings, "1 message, 9 bytes; not a Roland dump"},
        {"a GT-3 dump, then another maker's", gt3 + yamaha, Verdict::Warnings,
         "6 messages, 1,009 bytes; every checksum valid; 1 message not from Roland"},
        {"a cut-off message after the last F7", gt3 + korgTail, Verdict::Warnings,
         "5 messages, 1,006 bytes; every checksum valid; 6 bytes after the last F7"},
        {"no F7 at all", korgTail, Verdict::Warnings, "0 messages, 6 bytes; 6 bytes after the last F7"},
        {"another Roland model", u220, Verdict::Warnings, "1 message, 11 bytes; every checksum valid; not a GT-3 dump"},
        {"a lone F7", "\xF7"s, Verdict::Errors, "1 message, 1 byte; 1 message not starting with F0"},
        {"a GT-3 data set too short for an address", "\xF0\x41\x10\x00\x1B\x12\x01\x7F\xF7"s, Verdict::Errors,
         "1 message, 9 bytes; 1 bad checksum"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const DumpReport r = VerifyDump(c.dump);
        EXPECT_EQ(r.verdict, c.verdict);
        EXPECT_EQ(r.summary(), c.summary);
    }
}

TEST(DumpVerifier, RealInstrumentsFilesGetTheirVerdicts)
{
    const QDir folder(qEnvironmentVariable("TANDREL_SOURCE_DIR") + "/../shared/realworld");
    if (!folder.exists()) {
        std::printf("[ skipped  ] no real-world files in %s\n", qPrintable(folder.path()));
        GTEST_SKIP() << "no real-world files beside the source tree";
    }
    const struct {
        const char* file;
        std::size_t messages, dataSets, trailing;
        const char* model;  // of the first message, Roland only
        const char* summary;
    } cases[] = {
        {"EZ-Tone.syx", 2400, 2400, 0, "00 00 60", "2,400 messages, 322,800 bytes; every checksum valid; not a GT-3 dump"},
        {"GR-55_complete_system_dump.syx", 141, 141, 0, "00 00 53",
         "141 messages, 51,989 bytes; every checksum valid; not a GT-3 dump"},
        {"JV1080_AGSOUND1.SYX", 230, 230, 0, "6A", "230 messages, 29,578 bytes; every checksum valid; not a GT-3 dump"},
        {"U220Factory.Syx", 250, 250, 71, "2B",
         "250 messages, 33,883 bytes; every checksum valid; 71 bytes after the last F7; not a GT-3 dump"},
        {"yamahaDX7-ROM2B.SYX", 1, 0, 0, "", "1 message, 4,104 bytes; not a Roland dump"},
        {"vicbank1.syx", 1, 0, 0, "", "1 message, 19,665 bytes; not a Roland dump"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        QFile f(folder.filePath(c.file));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        const DumpReport r = VerifyDump(ByteString(bytes.constData(), std::size_t(bytes.size())));
        EXPECT_EQ(r.verdict, Verdict::Warnings);
        EXPECT_EQ(r.damaged, 0u);
        EXPECT_EQ(r.messages.size(), c.messages);
        EXPECT_EQ(r.dataSets, c.dataSets);
        EXPECT_EQ(r.trailingLength, c.trailing);
        EXPECT_EQ(r.trailingOffset + r.trailingLength, std::size_t(bytes.size()));
        EXPECT_EQ(r.summary(), c.summary);
        ASSERT_FALSE(r.messages.empty());
        EXPECT_EQ(HexBytes(r.messages[0].model, r.messages[0].modelLength), c.model);
    }
}

}  // namespace
