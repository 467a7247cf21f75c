// SPDX-License-Identifier: GPL-3.0-or-later
// The verdict lamp in each state and the details window, photographed on a private
// X server (verdict_screens does the showing) and looked at here. The pictures stay
// in the build folder, under tests/app/screenshots/, for a person to look at too.
#include "app/VerdictLamp.h"

#include <QColor>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <iostream>

using namespace tandrel;

namespace {

//! An Xvfb on a display nobody uses: no lock file and no socket, in /tmp or abstract.
class PrivateX {
public:
    bool start()
    {
        QFile unix("/proc/net/unix");
        const QString sockets = unix.open(QIODevice::ReadOnly) ? QString::fromLatin1(unix.readAll()) : QString();
        for (int display = 220; display < 320; ++display) {
            const QString socket = QStringLiteral("/tmp/.X11-unix/X%1").arg(display);
            if (QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(display)) || QFile::exists(socket) ||
                sockets.contains(socket))
                continue;
            xvfb_.start("Xvfb", {u':' + QString::number(display), "-displayfd", "1", "-ac", "-screen", "0",
                                 "800x600x24", "-nolisten", "tcp"});
            QByteArray ready;
            QElapsedTimer clock;
            clock.start();
            while (xvfb_.waitForStarted(10000) && !ready.contains('\n') && clock.elapsed() < 20000 &&
                   xvfb_.state() == QProcess::Running) {
                xvfb_.waitForReadyRead(500);
                ready += xvfb_.readAllStandardOutput();
            }
            if (ready.contains('\n')) {
                display_ = u':' + QString::number(display);
                return true;
            }
            stop();
        }
        return false;
    }
    void stop()
    {
        if (xvfb_.state() != QProcess::NotRunning) {
            xvfb_.terminate();
            if (!xvfb_.waitForFinished(5000)) {
                xvfb_.kill();
                xvfb_.waitForFinished(5000);
            }
        }
    }
    ~PrivateX() { stop(); }
    QString display() const { return display_; }

private:
    QProcess xvfb_;
    QString display_;
};

//! The lamp's colour name from the hue of its lens, above its glyph.
QString lampColour(const QImage& window)
{
    // The lamp sits at (387, 151), 15 pixels across, in the window.
    const QColor c = window.pixelColor(387 + 7, 151 + 3);
    const double hue = c.hueF();
    if (c.valueF() < 0.45)
        return "dark";
    if (hue > 0.25 && hue < 0.45)
        return "green";
    if (hue > 0.07 && hue < 0.17)
        return "amber";
    if (hue >= 0 && (hue < 0.03 || hue > 0.97))
        return "red";
    return c.name();
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
    for (const char* tool : {"Xvfb", "import"})
        if (QStandardPaths::findExecutable(tool).isEmpty()) {
            std::cout << "[ skipped  ] " << tool << " is not installed (packages xvfb, imagemagick)\n";
            GTEST_SKIP() << tool << " is not installed";
        }
    PrivateX x;
    ASSERT_TRUE(x.start()) << "no private X server came up";
    const QString build = qEnvironmentVariable("TANDREL_BUILD_DIR");
    const QString dir = build + "/tests/app/screenshots";
    QDir().mkpath(dir);

    QProcess shots;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", x.display());
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.remove("WAYLAND_DISPLAY");
    // No session bus on a private display: Qt's attempt to reach one through libdbus
    // leaves a buffer behind that LeakSanitizer reports.
    env.insert("DBUS_SESSION_BUS_ADDRESS", "disabled:");
    shots.setProcessEnvironment(env);
    shots.setProcessChannelMode(QProcess::ForwardedChannels);
    shots.start(build + "/tests/app/verdict_screens", {dir});
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
