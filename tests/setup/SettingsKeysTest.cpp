// SPDX-License-Identifier: GPL-3.0-or-later
#include "setup/SettingsKeys.h"

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

TEST(SettingsNumbers, WritesSignedDecimalTextThatReadsBack)
{
    const std::pair<int, const char*> cases[] = {{0, " 0"}, {2, " 2"}, {-1, "-1"}, {-32768, "-32768"}};
    for (const auto& [n, text] : cases) {
        EXPECT_EQ(settings::SignedText(n), text);
        EXPECT_EQ(settings::ValInt16(QString::fromLatin1(text)), n);
    }
}
