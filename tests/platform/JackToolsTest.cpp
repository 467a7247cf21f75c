// SPDX-License-Identifier: GPL-3.0-or-later
// The tools the MIDI tests trust: the private JACK server answers and leaves nothing in
// /dev/shm however it ends; gt3sim's dumps are well formed and its verdicts catch what they claim to.
#include "support/JackServer.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace tandrel::testing;
using namespace std::chrono_literals;

namespace {

TEST(JackServerTest, StartsPointsTheProcessAtItAndCleansUpHoweverItEnds)
{
    if (!JackServer::installed()) GTEST_SKIP() << "jackd2 tools (jackd, jack_lsp, jack_connect) are not installed";
    const auto shmFiles = [] { return QDir("/dev/shm").entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot); };
    for (const bool crash : {false, true}) {
        SCOPED_TRACE(crash ? "killed" : "stopped");
        QStringList own;
        {
            JackServer jack;
            ASSERT_TRUE(jack.ok()) << jack.error().toStdString();
            EXPECT_EQ(qEnvironmentVariable("JACK_DEFAULT_SERVER"), jack.name());
            EXPECT_EQ(qEnvironmentVariable("TANDREL_MIDI_API"), "jack");
            EXPECT_TRUE(jack.ports().contains("system:capture_1"));
            own = shmFiles().filter(jack.name());
            EXPECT_FALSE(own.isEmpty() || jack.sharedMemory().isEmpty()) << "its files and memory are in /dev/shm";
            own += jack.sharedMemory();
            if (crash) {
                jack.kill();
                EXPECT_FALSE(jack.waitForPort("system:capture_1", 100ms));
            }
        }
        const QStringList after = shmFiles();
        for (const QString& file : own) EXPECT_FALSE(after.contains(file)) << "left behind: " << file.toStdString();
        EXPECT_FALSE(qEnvironmentVariableIsSet("JACK_DEFAULT_SERVER"));
    }
}

TEST(Gt3simTest, GeneratesDataSetDumpsOfExactlyTheAskedSize)
{
    ASSERT_FALSE(gt3simPath().isEmpty()) << "gt3sim is not built";
    QTemporaryDir dir;
    struct Case {
        QStringList options;
        int exitCode;
        qsizetype size, minMessages, maxMessages;
    };
    const std::vector<Case> cases = {
        {{"--size", "125000"}, 0, 125000, 300, 1000},
        {{"--size", "13"}, 0, 13, 1, 1},
        {{"--size", "20000", "--block", "1000000"}, 0, 20000, 1, 1},
        {{"--size", "12"}, 2, 0, 0, 0},
        {{"--size", "lots"}, 2, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options.join(' ').toStdString());
        const QString path = dir.filePath(c.options.join('_') + ".syx");
        auto sim = startGt3sim(QStringList{"generate", path} + c.options);
        ASSERT_TRUE(finishGt3sim(*sim, 30s));
        EXPECT_EQ(sim->exitCode(), c.exitCode);
        const QByteArray dump = readBytes(path);
        EXPECT_EQ(dump.size(), c.size);
        qsizetype messages = 0;
        for (qsizetype start = 0, end; (end = dump.indexOf('\xF7', start)) >= 0; start = end + 1, ++messages) {
            const QByteArray m = dump.mid(start, end + 1 - start);
            ASSERT_GE(m.size(), 13);
            EXPECT_EQ(m.left(6), QByteArray("\xF0\x41\x10\x00\x1B\x12", 6));
            unsigned sum = 0;
            for (qsizetype i = 6; i < m.size() - 2; ++i) sum += static_cast<unsigned char>(m[i]);
            EXPECT_EQ(static_cast<unsigned char>(m[m.size() - 2]), (128 - sum % 128) & 0x7F);
        }
        EXPECT_GE(messages, c.minMessages);
        EXPECT_LE(messages, c.maxMessages);
    }
}

TEST(Gt3simTest, ReceiveCatchesBadChecksumsBrokenFramingAndShortPauses)
{
    if (!JackServer::installed()) GTEST_SKIP() << "jackd2 tools (jackd, jack_lsp, jack_connect) are not installed";
    ASSERT_FALSE(gt3simPath().isEmpty()) << "gt3sim is not built";
    QTemporaryDir dir;
    ASSERT_TRUE(finishGt3sim(*startGt3sim({"generate", dir.filePath("dump.syx"), "--size", "2000"}), 30s));
    const QByteArray dump = readBytes(dir.filePath("dump.syx"));
    const long long count = dump.count('\xF7');
    QByteArray badSum = dump;
    badSum[20] = static_cast<char>(badSum[20] ^ 1);  // a data byte of the first message
    struct Case {
        const char* name;
        QByteArray stream;
        QStringList transmit, receive;
        std::map<QString, std::pair<long long, long long>> expected;  //!< smallest and largest
    };
    const auto is = [](long long v) { return std::pair{v, v}; };
    const std::vector<Case> cases = {
        {"bad checksum", badSum, {"--pacing", "fast"}, {}, {{"checksum_errors", is(1)}, {"framing_errors", is(0)}}},
        {"cut-off message", QByteArray("\xF0\x41\x10\x00", 4) + dump, {"--pacing", "fast"}, {},
         {{"framing_errors", is(1)}, {"messages", is(count)}}},
        // Arrivals are stamped by the clock, so a late cycle may stretch a pause or two.
        {"pauses too short", dump, {"--pause-ms", "4"}, {"--min-pause-ms", "20"}, {{"short_pauses", {count / 2, count - 1}}}},
    };
    JackServer jack;
    ASSERT_TRUE(jack.ok()) << jack.error().toStdString();
    int round = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString in = dir.filePath(QString("in%1.syx").arg(round)), rxName = QString("rx%1").arg(round++);
        QFile f(in);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(c.stream) == c.stream.size());
        f.close();
        auto rx = startGt3sim(QStringList{"receive", dir.filePath("out.syx"), "--name", rxName, "--expect-bytes",
                                          QString::number(c.stream.size())} + c.receive);
        ASSERT_TRUE(jack.waitForPort(rxName + ":in"));
        auto tx = startGt3sim(QStringList{"transmit", in, "--connect", rxName + ":in"} + c.transmit);
        ASSERT_TRUE(finishGt3sim(*tx, 30s) && tx->exitCode() == 0) << tx->readAllStandardError().toStdString();
        ASSERT_TRUE(finishGt3sim(*rx, 30s));
        const QString report = QString::fromLocal8Bit(rx->readAllStandardOutput());
        EXPECT_EQ(rx->exitCode(), 1) << report.toStdString();
        auto summary = gt3simSummary(report, "gt3sim receive:");
        EXPECT_EQ(summary["bytes"], c.stream.size());
        for (const auto& [key, range] : c.expected) {
            EXPECT_GE(summary[key], range.first) << key.toStdString();
            EXPECT_LE(summary[key], range.second) << key.toStdString();
        }
    }
}

}  // namespace
