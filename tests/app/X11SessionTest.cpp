// SPDX-License-Identifier: GPL-3.0-or-later
// Runs the real program on a private X server and looks at it from outside: the
// X window's shape, where clicks land, a screenshot of the face, and a drag, at
// one and two device pixels to a pixel.
#include "app/WindowShape.h"
#include "platform/QtServices.h"
#include "setup/SettingsKeys.h"
#include "support/PrivateDisplay.h"

#include <QElapsedTimer>
#include <QImage>
#include <QImageReader>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <cstdlib>
#include <iostream>

#include <gtest/gtest.h>

using namespace tandrel;
using tandrel::testing::PrivateDisplay;

namespace {

class X11Session : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override
    {
        for (const char* tool : {"Xvfb", "xdotool", "xwininfo", "xprop", "import"})
            if (QStandardPaths::findExecutable(tool).isEmpty())
                GTEST_SKIP() << tool << " is not installed (packages xvfb, xdotool, x11-utils, imagemagick)";
        const QString why = display_.start({1024, 768});
        ASSERT_TRUE(why.isEmpty()) << why.toStdString();
    }
    void TearDown() override { PrivateDisplay::stop(app_); }

    QString x(const QString& tool, const QStringList& args) { return display_.run(tool, args); }
    QString xdotool(const QStringList& args) { return display_.xdotool(args); }
    static QStringList at(QPoint p) { return PrivateDisplay::at(p); }

    QRect geometryOf(const QString& id)
    {
        const QString info = x("xwininfo", {"-id", id});
        auto f = [&](const QString& label) {
            return QRegularExpression(label + ":\\s*(-?\\d+)").match(info).captured(1).toInt();
        };
        return {f("Absolute upper-left X"), f("Absolute upper-left Y"), f("Width"), f("Height")};
    }

    PrivateDisplay display_;
    QProcess app_;
};

TEST_P(X11Session, TheRealWindowIsShapedPaintedAndDraggable)
{
    const int scale = GetParam();  // device pixels to a pixel
    // Settings of an earlier run, so that no first-run setup dialog comes up.
    QTemporaryDir home, runtime;  // both private to us, as a runtime folder must be
    QSettingsStore(home.filePath("Tandrel/Tandrel.conf")).write(settings::kUserSetup, "1");
    QProcessEnvironment env = display_.environment();
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("QT_SCALE_FACTOR", QString::number(scale));
    env.insert("XDG_CONFIG_HOME", home.path());
    env.insert("XDG_RUNTIME_DIR", runtime.path());
    app_.setProcessEnvironment(env);
    app_.setProcessChannelMode(QProcess::ForwardedChannels);
    app_.start(qEnvironmentVariable("TANDREL_BUILD_DIR") + "/tandrel", {});
    ASSERT_TRUE(app_.waitForStarted(10000));

    // Any box (that no MIDI system is there, say) is answered with Enter so that it
    // does not cover the main window.
    QString id;
    QElapsedTimer clock;
    clock.start();
    for (int settled = 0; settled < 4 && clock.elapsed() < 30000 && app_.state() == QProcess::Running; ++settled) {
        id = xdotool({"search", "--onlyvisible", "--name", "^GT-3 Fenmarch$"}).section(u'\n', 0, 0);
        settled = id.isEmpty() ? -1 : settled;
        const QString shown = xdotool({"search", "--onlyvisible", "--name", "."});
        for (const QString& other : shown.split(u'\n', Qt::SkipEmptyParts))
            if (other != id)
                xdotool({"windowfocus", other, "key", "Return"});
        QThread::msleep(250);
    }
    ASSERT_FALSE(id.isEmpty()) << "the main window never showed";
    const QRect window = geometryOf(id);
    ASSERT_EQ(window.size(), QSize(451, 238) * scale);
    const QRegion outline = WindowOutline();
    // Without a compositor a translucent window would show black where it is clear:
    // the window keeps an opaque visual and lets the X server cut it.
    EXPECT_TRUE(x("xwininfo", {"-id", id}).contains(QRegularExpression("Depth:\\s*24\\b")));

    // The X server holds the outline, scaled whole, as the window's bounding shape.
    const QString shape = x("xwininfo", {"-id", id, "-shape"});
    const auto e = QRegularExpression("Window shape extents:\\s*(\\d+)x(\\d+)\\+(-?\\d+)\\+(-?\\d+)").match(shape);
    ASSERT_TRUE(e.hasMatch()) << "the window is not shaped:\n" << shape.toStdString();
    const QRect bounds = outline.boundingRect();
    EXPECT_EQ(QRect(e.captured(3).toInt(), e.captured(4).toInt(), e.captured(1).toInt(), e.captured(2).toInt()),
              QRect(bounds.topLeft() * scale, bounds.size() * scale));

    // Clicks outside the outline reach whatever lies behind the window.
    const struct {
        const char* where; QPoint at; bool ours;
    } probes[] = {{"face", {224, 70}, true},          {"tab", {224, 20}, true},
                  {"top left corner", {2, 2}, false}, {"bottom right corner", {448, 235}, false},
                  {"former title bar", {60, 5}, false}};
    for (const auto& p : probes) {
        const QString under =
            xdotool(QStringList{"mousemove"} + at(window.topLeft() + p.at * scale) + QStringList{"getmouselocation"});
        EXPECT_EQ(QRegularExpression("window:(\\d+)").match(under).captured(1) == id, p.ours) << p.where;
    }
    xdotool({"mousemove", "0", "0"});
    QThread::msleep(300);

    // The screenshot: black root (-br) wherever the outline cuts the window away, the
    // face inside it, and the navy name on the tab.
    const QString dir = PrivateDisplay::screenshotFolder(), name = QStringLiteral("x11-scale%1").arg(scale);
    const QImage face = display_.screenshot(dir + "/" + name + "-screen.png").copy(window);
    ASSERT_EQ(face.size(), window.size()) << "no screenshot in " << dir.toStdString();
    face.save(dir + "/" + name + ".png");
    std::cout << "screenshot: " << (dir + "/" + name + ".png").toStdString() << "\n";
    int leaks = 0, holes = 0, inside = 0, ink = 0;
    for (int yy = 0; yy < window.height(); ++yy)
        for (int xx = 0; xx < window.width(); ++xx) {
            const QColor c = face.pixelColor(xx, yy);
            const bool in = outline.contains(QPoint(xx / scale, yy / scale)), black = (c.rgb() & 0xFFFFFF) == 0;
            inside += in;
            (in ? holes : leaks) += in == black;
            ink += QRect(150, 8, 130, 36).contains(xx / scale, yy / scale) &&
                   std::abs(c.red() - 40) + std::abs(c.green() - 44) + std::abs(c.blue() - 79) < 60;
        }
    EXPECT_EQ(leaks, 0) << "pixels drawn outside the outline";
    EXPECT_LT(holes, inside / 200) << "black pixels inside the outline";
    EXPECT_GT(ink, 150 * scale * scale) << "the name on the tab is missing";

    // Dragging the bare face with the right button moves the window with the pointer.
    const QPoint grab = window.topLeft() + QPoint(224, 70) * scale, to = grab + QPoint(50, 20);
    xdotool(QStringList{"mousemove"} + at(grab) + QStringList{"mousedown", "3"});
    xdotool(QStringList{"mousemove"} + at((grab + to) / 2));
    xdotool(QStringList{"mousemove"} + at(to) + QStringList{"mouseup", "3"});
    QThread::msleep(400);
    EXPECT_EQ(geometryOf(id).topLeft(), window.topLeft() + QPoint(50, 20));
    EXPECT_EQ(app_.state(), QProcess::Running);

    // The window carries the program's icon, where Qt can read SVG at all.
    if (QImageReader::supportedImageFormats().contains("svg")) {
        EXPECT_TRUE(x("xprop", {"-id", id, "_NET_WM_ICON"}).contains("Icon ("));
    } else {
        std::cout << "not checking the window icon: Qt's SVG image plugin is not installed (package libqt6svg6)\n";
    }
}

INSTANTIATE_TEST_SUITE_P(Scales, X11Session, ::testing::Values(1, 2),
                         [](const ::testing::TestParamInfo<int>& scale) { return "x" + std::to_string(scale.param); });

}  // namespace
