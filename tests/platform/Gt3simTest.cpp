// SPDX-License-Identifier: GPL-3.0-or-later
// gt3sim, which the end-to-end tests trust to play the GT-3 and to judge what it
// receives: its dumps are well formed, and its verdicts catch what they claim to.
#include "support/JackServer.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace tandrel::testing;
using namespace std::chrono_literals;

namespace {

QByteArray generated(const QString& path, const QStringList& options, int* exitCode)
{
    auto sim = startGt3sim(QStringList{QStringLiteral("generate"), path} + options);
    EXPECT_TRUE(finishGt3sim(*sim, 30s));
    *exitCode = sim->exitCode();
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QList<QByteArray> messagesOf(const QByteArray& dump)
{
    QList<QByteArray> messages;
    for (qsizetype start = 0, end; (end = dump.indexOf('\xF7', start)) >= 0; start = end + 1)
        messages << dump.mid(start, end + 1 - start);
    return messages;
}

TEST(Gt3simTest, GeneratesDataSetDumpsOfExactlyTheAskedSize)
{
    ASSERT_FALSE(gt3simPath().isEmpty()) << "gt3sim is not built";
    QTemporaryDir dir;
    struct Case {
        QStringList options;
        int exitCode;
        qsizetype size;
        qsizetype minMessages, maxMessages;
    };
    const std::vector<Case> cases = {
        {{QStringLiteral("--size"), QStringLiteral("125000")}, 0, 125000, 300, 1000},
        {{QStringLiteral("--size"), QStringLiteral("13")}, 0, 13, 1, 1},
        {{QStringLiteral("--size"), QStringLiteral("20000"), QStringLiteral("--block"), QStringLiteral("1000000")}, 0, 20000, 1, 1},
        {{QStringLiteral("--size"), QStringLiteral("12")}, 2, 0, 0, 0},
        {{QStringLiteral("--size"), QStringLiteral("lots")}, 2, 0, 0, 0},
    };
    int round = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options.join(' ').toStdString());
        int exitCode = -1;
        const QByteArray dump = generated(dir.filePath(QStringLiteral("d%1.syx").arg(round++)), c.options, &exitCode);
        EXPECT_EQ(exitCode, c.exitCode);
        EXPECT_EQ(dump.size(), c.size);
        const QList<QByteArray> messages = messagesOf(dump);
        EXPECT_GE(messages.size(), c.minMessages);
        EXPECT_LE(messages.size(), c.maxMessages);
        for (const QByteArray& m : messages) {
            ASSERT_GE(m.size(), 13);
            EXPECT_EQ(m.left(6), QByteArray("\xF0\x41\x10\x00\x1B\x12", 6));
            unsigned sum = 0;
            for (qsizetype i = 6; i < m.size() - 2; ++i) sum += static_cast<unsigned char>(m[i]);
            EXPECT_EQ(static_cast<unsigned char>(m[m.size() - 2]), (128 - sum % 128) & 0x7F);
        }
    }
}

TEST(Gt3simTest, ReceiveCatchesBadChecksumsBrokenFramingAndShortPauses)
{
    if (!JackServer::installed()) GTEST_SKIP() << "jackd2 is not installed: no transport to test through";
    ASSERT_FALSE(gt3simPath().isEmpty()) << "gt3sim is not built";
    QTemporaryDir dir;
    int exitCode = -1;
    const QByteArray dump = generated(dir.filePath(QStringLiteral("dump.syx")), {QStringLiteral("--size"), QStringLiteral("2000")}, &exitCode);
    const qsizetype count = messagesOf(dump).size();
    QByteArray badSum = dump;
    badSum[20] = static_cast<char>(badSum[20] ^ 1);  // a data byte of the first message
    const QByteArray cutOff = QByteArray("\xF0\x41\x10\x00", 4) + dump;

    struct Case {
        const char* name;
        QByteArray stream;
        QStringList transmit, receive;
        int exitCode;
        std::map<QString, std::pair<long long, long long>> expected;  //!< smallest and largest
    };
    const auto is = [](long long v) { return std::pair{v, v}; };
    const QStringList fast{QStringLiteral("--pacing"), QStringLiteral("fast")};
    // Clean streams pass in the port tests, which judge every send with gt3sim.
    const std::vector<Case> cases = {
        {"bad checksum", badSum, fast, {}, 1, {{"checksum_errors", is(1)}, {"framing_errors", is(0)}}},
        {"cut-off message", cutOff, fast, {}, 1, {{"framing_errors", is(1)}, {"messages", is(count)}}},
        // Arrivals are stamped by the clock, so a late cycle may stretch a pause or two.
        {"pauses too short", dump, {QStringLiteral("--pause-ms"), QStringLiteral("4")},
         {QStringLiteral("--min-pause-ms"), QStringLiteral("20")}, 1, {{"short_pauses", {count / 2, count - 1}}}},
    };
    JackServer jack;
    ASSERT_TRUE(jack.ok()) << jack.error().toStdString();
    int round = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString in = dir.filePath(QStringLiteral("in%1.syx").arg(round));
        QFile f(in);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(c.stream);
        f.close();
        const QString rxName = QStringLiteral("rx%1").arg(round++);
        auto rx = startGt3sim(QStringList{QStringLiteral("receive"), dir.filePath(QStringLiteral("out.syx")),
                                          QStringLiteral("--name"), rxName, QStringLiteral("--expect-bytes"),
                                          QString::number(c.stream.size())} + c.receive);
        ASSERT_TRUE(jack.waitForPort(rxName + QStringLiteral(":in")));
        auto tx = startGt3sim(QStringList{QStringLiteral("transmit"), in, QStringLiteral("--connect"),
                                          rxName + QStringLiteral(":in")} + c.transmit);
        ASSERT_TRUE(finishGt3sim(*tx, 30s)) << tx->readAllStandardError().toStdString();
        EXPECT_EQ(tx->exitCode(), 0) << tx->readAllStandardError().toStdString();
        ASSERT_TRUE(finishGt3sim(*rx, 30s));
        const QString report = QString::fromLocal8Bit(rx->readAllStandardOutput());
        EXPECT_EQ(rx->exitCode(), c.exitCode) << report.toStdString();
        auto summary = gt3simSummary(report, QStringLiteral("gt3sim receive:"));
        EXPECT_EQ(summary[QStringLiteral("bytes")], c.stream.size());
        for (const auto& [key, range] : c.expected) {
            EXPECT_GE(summary[key], range.first) << key.toStdString();
            EXPECT_LE(summary[key], range.second) << key.toStdString();
        }
    }
}

}  // namespace
