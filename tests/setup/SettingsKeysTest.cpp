// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/QtServices.h"
#include "setup/SettingsKeys.h"

#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace tandrel;

TEST(SettingsNumbers, ReadsTheLeadingNumberOfTheText)
{
    struct Case {
        const char* text;
        double value;
        std::int16_t position;  // rounded half to even, within 16 bits
    } cases[] = {
        {"1", 1, 1},          {" 2", 2, 2},        {"-1", -1, -1},     {"2.5", 2.5, 2},
        {"3.5", 3.5, 4},      {"-2.5", -2.5, -2},  {"abc", 0, 0},      {"", 0, 0},
        {"  7x", 7, 7},       {"+3", 3, 3},        {".5", 0.5, 0},     {"1.5e3", 1.5, 2},
        {"- 1", 0, 0},        {"99999", 99999, 32767},                 {"-40000", -40000, -32768},
        {"\t4", 4, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_DOUBLE_EQ(settings::Val(QString::fromLatin1(c.text)), c.value);
        EXPECT_EQ(settings::ValInt16(QString::fromLatin1(c.text)), c.position);
    }
}

TEST(SettingsNumbers, WritesSignedDecimalTextWithABlankForThePlus)
{
    EXPECT_EQ(settings::SignedText(0), " 0");
    EXPECT_EQ(settings::SignedText(2), " 2");
    EXPECT_EQ(settings::SignedText(-1), "-1");
    EXPECT_EQ(settings::SignedText(32767), " 32767");
    // What is written reads back as the same number.
    for (long long n : {-32768LL, -1LL, 0LL, 5LL, 32767LL})
        EXPECT_EQ(settings::ValInt16(settings::SignedText(n)), n);
}

TEST(SettingsStore, KeepsTextUnderTheUserSettingsSection)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString ini = dir.filePath(QStringLiteral("Tandrel.conf"));
    {
        QSettingsStore store(ini);
        EXPECT_EQ(store.read(settings::kUserSetup, QStringLiteral("0")), "0");
        store.write(settings::kUserSetup, QStringLiteral("1"));
        store.write(settings::kMIDIOutputDeviceID, QStringLiteral("-1"));
        store.write(settings::kUserFolder, QStringLiteral("/home/me/GT-3 dumps/ü"));
    }
    QSettingsStore reopened(ini);
    EXPECT_EQ(reopened.read(settings::kUserSetup, QStringLiteral("0")), "1");
    EXPECT_EQ(reopened.read(settings::kMIDIOutputDeviceID, QStringLiteral("0")), "-1");
    EXPECT_EQ(reopened.read(settings::kUserFolder, QString()), "/home/me/GT-3 dumps/ü");
    EXPECT_EQ(reopened.read(settings::kMIDIInputDeviceID, QStringLiteral("0")), "0");

    QSettings raw(ini, QSettings::IniFormat);
    EXPECT_EQ(raw.value(QStringLiteral("User Settings/MIDI Output Device ID")).toString(), "-1");
}
