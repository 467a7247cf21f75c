// SPDX-License-Identifier: GPL-3.0-or-later
// Runs the real program on a private X server and looks at it from outside: the
// X window's shape, where clicks land, a screenshot of the face, and a drag.
#include "app/WindowShape.h"
#include "platform/QtServices.h"
#include "setup/SettingsKeys.h"

#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QImageReader>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <cstdlib>
#include <iostream>

#include <gtest/gtest.h>

using namespace tandrel;

namespace {

class X11Session : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* tool : {"Xvfb", "xdotool", "xwininfo", "xprop", "import"})
            if (QStandardPaths::findExecutable(tool).isEmpty())
                GTEST_SKIP() << tool << " is not installed (packages xvfb, xdotool, x11-utils, imagemagick)";
        // Only a display with no lock file and no socket, abstract or in /tmp/.X11-unix:
        // a client tries the abstract one first and could reach someone else's server.
        QFile unix("/proc/net/unix");
        const QString sockets = unix.open(QIODevice::ReadOnly) ? QString::fromLatin1(unix.readAll()) : QString();
        for (int display = 20, tries = 0; display < 200 && tries < 4; ++display) {
            const QString socket = QStringLiteral("/tmp/.X11-unix/X%1").arg(display);
            if (QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(display)) || QFile::exists(socket) ||
                sockets.contains(QRegularExpression(QRegularExpression::escape(socket) + "\\s*$",
                                                    QRegularExpression::MultilineOption)))
                continue;
            ++tries;
            if (startXvfb(u':' + QString::number(display)))
                return;
        }
        FAIL() << "no private X server came up; its last words:\n" << xvfbLog_;
    }

    // -ac lets every local client in, also where the server cannot list this host's
    // addresses; the server is used only once a client has got in.
    bool startXvfb(const QString& display)
    {
        xvfb_.start("Xvfb",
                    {display, "-displayfd", "1", "-ac", "-screen", "0", "800x600x24", "-br", "-nolisten", "tcp"});
        QByteArray ready;
        QElapsedTimer clock;
        clock.start();
        while (xvfb_.waitForStarted(10000) && !ready.contains('\n') && clock.elapsed() < 20000 &&
               xvfb_.state() == QProcess::Running) {
            xvfb_.waitForReadyRead(500);
            ready += xvfb_.readAllStandardOutput();
        }
        env_ = QProcessEnvironment::systemEnvironment();
        env_.insert("DISPLAY", display);
        env_.remove("WAYLAND_DISPLAY");
        if (ready.contains('\n') && !xdotool({"getdisplaygeometry"}).trimmed().isEmpty())
            return true;
        stop(xvfb_);
        xvfbLog_ = xvfb_.readAllStandardError().toStdString();
        return false;
    }

    static void stop(QProcess& p)
    {
        if (p.state() != QProcess::NotRunning)
            p.terminate();
        if (!p.waitForFinished(5000)) {
            p.kill();
            p.waitForFinished(5000);
        }
    }
    void TearDown() override
    {
        stop(app_);
        stop(xvfb_);
    }

    QString x(const QString& tool, const QStringList& args)
    {
        QProcess p;
        p.setProcessEnvironment(env_);
        p.start(tool, args);
        if (!p.waitForFinished(15000))
            p.kill();  // reaped as p goes
        return QString::fromLocal8Bit(p.readAllStandardOutput());
    }
    QString xdotool(const QStringList& args) { return x("xdotool", args); }
    static QStringList at(QPoint p) { return {QString::number(p.x()), QString::number(p.y())}; }

    QRect geometryOf(const QString& id)
    {
        const QString info = x("xwininfo", {"-id", id});
        auto f = [&](const QString& label) {
            return QRegularExpression(label + ":\\s*(-?\\d+)").match(info).captured(1).toInt();
        };
        return {f("Absolute upper-left X"), f("Absolute upper-left Y"), f("Width"), f("Height")};
    }

    QProcess xvfb_, app_;
    QProcessEnvironment env_;
    std::string xvfbLog_;
};

TEST_F(X11Session, TheRealWindowIsShapedPaintedAndDraggable)
{
    // Settings of an earlier run, so that no first-run setup dialog comes up.
    QTemporaryDir home, runtime;  // both private to us, as a runtime folder must be
    QSettingsStore(home.filePath("Tandrel/Tandrel.conf")).write(settings::kUserSetup, "1");
    env_.insert("QT_QPA_PLATFORM", "xcb");
    env_.insert("XDG_CONFIG_HOME", home.path());
    env_.insert("XDG_RUNTIME_DIR", runtime.path());
    app_.setProcessEnvironment(env_);
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
    ASSERT_EQ(window.size(), QSize(451, 238));
    const QRegion outline = WindowOutline();

    // The X server holds the outline as the window's bounding shape.
    const QString shape = x("xwininfo", {"-id", id, "-shape"});
    const auto e = QRegularExpression("Window shape extents:\\s*(\\d+)x(\\d+)\\+(-?\\d+)\\+(-?\\d+)").match(shape);
    ASSERT_TRUE(e.hasMatch()) << "the window is not shaped:\n" << shape.toStdString();
    EXPECT_EQ(QRect(e.captured(3).toInt(), e.captured(4).toInt(), e.captured(1).toInt(), e.captured(2).toInt()),
              outline.boundingRect());

    // Clicks outside the outline reach whatever lies behind the window.
    const struct {
        const char* where; QPoint at; bool ours;
    } probes[] = {{"face", {224, 70}, true},          {"tab", {224, 20}, true},
                  {"top left corner", {2, 2}, false}, {"bottom right corner", {448, 235}, false},
                  {"former title bar", {60, 5}, false}};
    for (const auto& p : probes) {
        const QString under =
            xdotool(QStringList{"mousemove"} + at(window.topLeft() + p.at) + QStringList{"getmouselocation"});
        EXPECT_EQ(QRegularExpression("window:(\\d+)").match(under).captured(1) == id, p.ours) << p.where;
    }
    xdotool({"mousemove", "0", "0"});
    QThread::msleep(300);

    // The screenshot: black root (-br) wherever the outline cuts the window away, the
    // face inside it, and the navy name on the tab.
    const QString dir = qEnvironmentVariable("TANDREL_BUILD_DIR") + "/tests/app/screenshots";
    QDir().mkpath(dir);
    x("import", {"-window", "root", dir + "/screen.png"});
    const QImage face = QImage(dir + "/screen.png").copy(window).convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(face.size(), window.size()) << "no screenshot in " << dir.toStdString();
    face.save(dir + "/main-window.png");
    std::cout << "screenshot: " << (dir + "/main-window.png").toStdString() << "\n";
    int leaks = 0, holes = 0, inside = 0, ink = 0;
    for (int yy = 0; yy < window.height(); ++yy)
        for (int xx = 0; xx < window.width(); ++xx) {
            const QColor c = face.pixelColor(xx, yy);
            const bool in = outline.contains(QPoint(xx, yy)), black = (c.rgb() & 0xFFFFFF) == 0;
            inside += in;
            (in ? holes : leaks) += in == black;
            ink += QRect(150, 8, 130, 36).contains(xx, yy) &&
                   std::abs(c.red() - 40) + std::abs(c.green() - 44) + std::abs(c.blue() - 79) < 60;
        }
    EXPECT_EQ(leaks, 0) << "pixels drawn outside the outline";
    EXPECT_LT(holes, inside / 200) << "black pixels inside the outline";
    EXPECT_GT(ink, 150) << "the name on the tab is missing";

    // Dragging the bare face with the right button moves the window with the pointer.
    const QPoint grab = window.topLeft() + QPoint(224, 70), to = grab + QPoint(50, 20);
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

}  // namespace
