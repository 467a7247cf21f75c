// SPDX-License-Identifier: GPL-3.0-or-later
// The verdict lamp in each state and the details window, photographed on a private
// X server (verdict_screens does the showing) and looked at here. The pictures stay
// in the build folder, under tests/app/screenshots/, for a person to look at too.
#include "app/VerdictLamp.h"
#include "support/Helpers.h"
#include "support/LampColour.h"
#include "support/PrivateDisplay.h"

#include <QColor>
#include <QImage>
#include <QProcess>

#include <gtest/gtest.h>


using namespace tandrel;

namespace {

//! The lamp's colour from its lens, above its glyph; the lamp sits at (387, 151),
//! 15 pixels across, in the window.
QString lampColour(const QImage& window)
{
    return tandrel::testing::lampColour(window.pixelColor(387 + 7, 151 + 3));
}

//! Rows of the table tinted as damaged: count of pixel rows mostly in the pink.
int pinkLines(const QImage& image)
{
    int lines = 0;
    for (int y = 0; y < image.height(); ++y) {
        int pink = 0;
        for (int x = 0; x < image.width(); ++x)
            pink += image.pixelColor(x, y) == QColor(255, 205, 205);
        lines += pink > image.width() / 2;
    }
    return lines;
}

TEST(VerdictScreens, EachLampStateAndTheDetailsWindowOnARealXServer)
{
    if (const QString tool = tandrel::testing::missingTool({"Xvfb", "xdotool", "import"}); !tool.isEmpty())
        GTEST_SKIP() << tool.toStdString() << " is not installed (packages xvfb, xdotool, imagemagick)";
    tandrel::testing::PrivateDisplay x;
    const QString failed = x.start({800, 600});
    ASSERT_TRUE(failed.isEmpty()) << failed.toStdString();
    const QString dir = tandrel::testing::PrivateDisplay::screenshotFolder();

    QProcess shots;
    QProcessEnvironment env = x.environment();
    env.insert("QT_QPA_PLATFORM", "xcb");
    // No session bus on a private display: Qt's attempt to reach one through libdbus
    // leaves a buffer behind that LeakSanitizer reports.
    env.insert("DBUS_SESSION_BUS_ADDRESS", "disabled:");
    shots.setProcessEnvironment(env);
    shots.setProcessChannelMode(QProcess::ForwardedChannels);
    shots.start(qEnvironmentVariable("TANDREL_BUILD_DIR") + "/tests/app/verdict_screens", {dir});
    ASSERT_TRUE(shots.waitForFinished(120000));
    ASSERT_EQ(shots.exitStatus(), QProcess::NormalExit);
    ASSERT_EQ(shots.exitCode(), 0);

    for (const char* state : {"dark", "green", "amber", "red"}) {
        SCOPED_TRACE(state);
        const QImage window(dir + "/lamp-" + state + ".png");
        ASSERT_EQ(window.size(), QSize(451, 238));
        EXPECT_EQ(lampColour(window), state);
    }
    const QImage details(dir + "/details.png"), problems(dir + "/details-problems-only.png");
    ASSERT_FALSE(details.isNull());
    ASSERT_EQ(problems.size(), details.size());
    // Two damaged messages among twelve: their rows are tinted, in both views.
    const int all = pinkLines(details), only = pinkLines(problems);
    EXPECT_GT(all, 20) << "no damaged rows marked";
    EXPECT_EQ(only, all) << "the filter lost a damaged row";
}

}  // namespace
