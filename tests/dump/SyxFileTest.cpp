// SPDX-License-Identifier: GPL-3.0-or-later
#include "dump/SyxFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace tandrel;

namespace {

ByteString everyByteValue()
{
    ByteString all;
    for (int i = 0; i < 256; ++i)
        all.push_back(static_cast<char>(i));
    return all;
}

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

}  // namespace

TEST(SyxFile, RoundTripsEveryByteValueExactly)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("all.syx"));
    const ByteString dump = everyByteValue() + everyByteValue();
    ASSERT_TRUE(WriteSyxFile(path, dump));
    EXPECT_EQ(fileBytes(path), QByteArray(dump.data(), static_cast<qsizetype>(dump.size())));

    ByteString back = "left over";
    ASSERT_TRUE(ReadSyxFile(path, back));
    EXPECT_EQ(back, dump);
}

TEST(SyxFile, SavingOverALongerFileLeavesExactlyTheDump)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("old.syx"));
    ASSERT_TRUE(WriteSyxFile(path, ByteString(1000, '\x55')));
    ASSERT_TRUE(WriteSyxFile(path, "\xF0\x41\xF7"));
    EXPECT_EQ(fileBytes(path), QByteArray("\xF0\x41\xF7"));
}

TEST(SyxFile, ReadingEmptiesTheDumpAndLeavesItEmptyForAnEmptyOrMissingFile)
{
    QTemporaryDir dir;
    const QString empty = dir.filePath(QStringLiteral("empty.syx"));
    ASSERT_TRUE(WriteSyxFile(empty, {}));

    struct Case {
        QString path;
        bool ok;
    } cases[] = {{empty, true}, {dir.filePath(QStringLiteral("missing.syx")), false}, {dir.path(), false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        ByteString dump = "\xF0 previous dump \xF7";
        EXPECT_EQ(ReadSyxFile(c.path, dump), c.ok);
        EXPECT_TRUE(dump.empty());
    }
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("missing.syx"))));
}

TEST(SyxFile, AWriteThatCannotSucceedReportsFailureAndHarmsNothing)
{
    QTemporaryDir dir;
    const QString kept = dir.filePath(QStringLiteral("kept.syx"));
    ASSERT_TRUE(WriteSyxFile(kept, "\xF0\x01\xF7"));
    // The path is a folder; then a path below a file.
    EXPECT_FALSE(WriteSyxFile(dir.path(), "\xF0\xF7"));
    EXPECT_FALSE(WriteSyxFile(kept + QStringLiteral("/below.syx"), "\xF0\xF7"));
    EXPECT_EQ(fileBytes(kept), QByteArray("\xF0\x01\xF7"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("kept.syx")});
}
