// SPDX-License-Identifier: GPL-3.0-or-later
// verify's report, text and JSON, on real instruments' files read in place and on
// small dumps built here.
#include "cli/CliCommands.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace tandrel::cli;

namespace {

struct VerifyRun {
    int code;
    QString out, err;
};

VerifyRun Verify(const QStringList& files, bool json)
{
    CliOptions o;
    o.command = CliOptions::Command::Verify;
    o.files = files;
    o.json = json;
    VerifyRun run;
    QTextStream out(&run.out), err(&run.err);
    Console console{out, err, false};
    run.code = RunVerify(o, console);
    return run;
}

//! A GT-3 data set at `address` carrying `data`, its checksum right unless `spoil`.
QByteArray DataSet(unsigned address, const QByteArray& data, bool spoil = false)
{
    QByteArray m("\xF0\x41\x10\x00\x1B\x12", 6);
    const QByteArray body = QByteArray(1, char(address >> 21 & 0x7F)) + char(address >> 14 & 0x7F)
                            + char(address >> 7 & 0x7F) + char(address & 0x7F) + data;
    int sum = 0;
    for (const char c : body) sum += static_cast<unsigned char>(c);
    m += body;
    m += char((128 - sum % 128) % 128 ^ (spoil ? 1 : 0));
    m += '\xF7';
    return m;
}

QString Write(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes)
{
    QFile f(dir.filePath(name));
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    return f.fileName();
}

QString RealWorld()
{
    return qEnvironmentVariable("TANDREL_SOURCE_DIR") + QStringLiteral("/../shared/realworld");
}

TEST(CliVerify, RealWorldFilesAsJson)
{
    if (!QDir(RealWorld()).exists())
        GTEST_SKIP() << "the real-world files are not beside the source tree (" << RealWorld().toStdString() << ")";
    struct Row {
        const char* file;
        qint64 messages, bytes, trailing;
        int notRoland, notGT3;
    };
    const Row table[] = {
        {"EZ-Tone.syx", 2400, 322800, 0, 0, 2400},
        {"GR-55_complete_system_dump.syx", 141, 51989, 0, 0, 141},
        {"JV1080_AGSOUND1.SYX", 230, 29578, 0, 0, 230},
        {"U220Factory.Syx", 250, 33883, 71, 0, 250},
        {"yamahaDX7-ROM2B.SYX", 1, 4104, 0, 1, 0},
        {"vicbank1.syx", 1, 19665, 0, 1, 0},
    };
    QStringList files;
    for (const Row& row : table) files << RealWorld() + '/' + row.file;
    const VerifyRun run = Verify(files, true);
    // The cut-off message at the end of the U-220 file makes the whole run incomplete.
    EXPECT_EQ(run.code, kDumpProblem);
    EXPECT_TRUE(run.err.isEmpty()) << run.err.toStdString();
    const QJsonArray reports = QJsonDocument::fromJson(run.out.toUtf8()).array();
    ASSERT_EQ(reports.size(), std::size(table)) << run.out.toStdString();
    for (std::size_t i = 0; i < std::size(table); ++i) {
        const Row& row = table[i];
        SCOPED_TRACE(row.file);
        const QJsonObject r = reports[int(i)].toObject();
        EXPECT_EQ(r["file"].toString(), files[int(i)]);
        EXPECT_EQ(r["verdict"].toString(), "warnings");
        EXPECT_EQ(r["messages"].toInteger(), row.messages);
        EXPECT_EQ(r["bytes"].toInteger(), row.bytes);
        EXPECT_EQ(r["trailing_bytes"].toInteger(), row.trailing);
        EXPECT_EQ(r["bad_checksums"].toInteger(), 0);
        EXPECT_EQ(r["damaged"].toInteger(), 0);
        EXPECT_EQ(r["not_roland"].toInteger(), row.notRoland);
        EXPECT_EQ(r["not_gt3"].toInteger(), row.notGT3);
    }
}

TEST(CliVerify, RealWorldFilesAsText)
{
    if (!QDir(RealWorld()).exists())
        GTEST_SKIP() << "the real-world files are not beside the source tree (" << RealWorld().toStdString() << ")";
    const QString u220 = RealWorld() + "/U220Factory.Syx", dx7 = RealWorld() + "/yamahaDX7-ROM2B.SYX";
    const VerifyRun run = Verify({dx7, u220}, false);
    EXPECT_EQ(run.code, kDumpProblem);
    EXPECT_EQ(run.out, dx7 + ": warnings; 1 message, 4,104 bytes; not a Roland dump\n" + u220
                           + ": warnings; 250 messages, 33,883 bytes; every checksum valid; 71 bytes after the last F7; "
                             "not a GT-3 dump\n"
                             "  71 bytes after the last message at byte 33,812\n");
    // A complete file alone passes.
    EXPECT_EQ(Verify({dx7}, false).code, kSuccess);
}

TEST(CliVerify, DamageIsListedWhereItLies)
{
    QTemporaryDir dir;
    const QByteArray first = DataSet(0, "\x01\x02\x03\x04"), second = DataSet(4, "\x05\x06\x07\x08", true);
    const QString good = Write(dir, "good.syx", first + DataSet(4, "\x05\x06\x07\x08"));
    const QString bad = Write(dir, "bad.syx", first + second + DataSet(8, "\x09"));
    const QString missing = dir.filePath("missing.syx");

    const VerifyRun text = Verify({good, bad}, false);
    EXPECT_EQ(text.code, kDumpProblem);
    EXPECT_TRUE(text.out.startsWith(good + ": good; ")) << text.out.toStdString();
    EXPECT_TRUE(text.out.contains(bad + ": errors; ")) << text.out.toStdString();
    EXPECT_TRUE(text.out.endsWith(QString("  message 2 at byte %1: bad checksum\n").arg(first.size())))
        << text.out.toStdString();

    const VerifyRun json = Verify({bad, missing}, true);
    // A file that cannot be read outranks a damaged one.
    EXPECT_EQ(json.code, kFailure);
    EXPECT_EQ(json.err, "tandrel-cli: cannot read " + missing + "\n");
    const QJsonArray reports = QJsonDocument::fromJson(json.out.toUtf8()).array();
    ASSERT_EQ(reports.size(), 2);
    const QJsonObject r = reports[0].toObject();
    EXPECT_EQ(r["verdict"].toString(), "errors");
    EXPECT_EQ(r["bad_checksums"].toInteger(), 1);
    const QJsonArray problems = r["problem_messages"].toArray();
    ASSERT_EQ(problems.size(), 1);
    EXPECT_EQ(problems[0].toObject()["message"].toInteger(), 2);
    EXPECT_EQ(problems[0].toObject()["offset"].toInteger(), first.size());
    EXPECT_EQ(problems[0].toObject()["problems"].toArray(), QJsonArray{"bad checksum"});
    EXPECT_EQ(reports[1].toObject()["error"].toString(), "cannot read");
}

}  // namespace
