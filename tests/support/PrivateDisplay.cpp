// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/PrivateDisplay.h"

#include "app/WindowShape.h"
#include "platform/QtServices.h"
#include "setup/SettingsKeys.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegion>
#include <QRegularExpression>
#include <QTransform>

#include <gtest/gtest.h>

#include <cstdlib>

namespace tandrel::testing {

PrivateDisplay::~PrivateDisplay()
{
    stop(xvfb_);
}

QString PrivateDisplay::start(QSize size, bool white)
{
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
        if (startOn(u':' + QString::number(display), size, white))
            return {};
    }
    return QStringLiteral("no private X server came up; its last words:\n") + log_;
}

// -ac lets every local client in, also where the server cannot list this host's
// addresses; the server is used only once a client has got in. -noreset keeps it
// from resetting, and turning clients away meanwhile, each time its last client
// leaves (as the tool that checks it has come up does).
bool PrivateDisplay::startOn(const QString& display, QSize size, bool white)
{
    const QString screen = QStringLiteral("%1x%2x24").arg(size.width()).arg(size.height());
    xvfb_.start("Xvfb",
                {display, "-displayfd", "1", "-ac", "-noreset", "-screen", "0", screen, white ? "-wr" : "-br", "-nolisten", "tcp"});
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
    name_ = display;
    if (ready.contains('\n') && !xdotool({"getdisplaygeometry"}).trimmed().isEmpty())
        return true;
    stop(xvfb_);
    log_ = QString::fromLocal8Bit(xvfb_.readAllStandardError());
    return false;
}

QString PrivateDisplay::run(const QString& tool, const QStringList& args) const
{
    QProcess p;
    p.setProcessEnvironment(env_);
    p.start(tool, args);
    if (!p.waitForFinished(15000))
        p.kill();  // reaped as p goes
    return QString::fromLocal8Bit(p.readAllStandardOutput());
}

QImage PrivateDisplay::screenshot(const QString& path) const
{
    QFile::remove(path);
    run("import", {"-window", "root", path});
    return QImage(path).convertToFormat(QImage::Format_RGB32);
}

void PrivateDisplay::stop(QProcess& p)
{
    if (p.state() != QProcess::NotRunning)
        p.terminate();
    if (!p.waitForFinished(5000)) {
        p.kill();
        p.waitForFinished(5000);
    }
}

QString PrivateDisplay::screenshotFolder()
{
    const QString dir = qEnvironmentVariable("TANDREL_BUILD_DIR") + "/tests/app/screenshots";
    QDir().mkpath(dir);
    return dir;
}

bool startTandrel(QProcess& app, QProcessEnvironment env, const QString& home, double scale)
{
    QSettingsStore(home + "/Tandrel/Tandrel.conf").write(settings::kUserSetup, "1");
    env.insert("QT_SCALE_FACTOR", QString::number(scale));
    env.insert("XDG_CONFIG_HOME", home);
    app.setProcessEnvironment(env);
    app.setProcessChannelMode(QProcess::ForwardedChannels);
    app.start(qEnvironmentVariable("TANDREL_BUILD_DIR") + "/tandrel", {});
    return app.waitForStarted(10000);
}

void expectFace(const QImage& screen, QRect window, double scale, const std::function<bool(QRgb)>& background,
                const QRegion& skip)
{
    // In device pixels, scaled as Qt scales the mask; the tab's top reaches a row
    // above the window, which does not show.
    const QTransform toDevice = QTransform::fromScale(scale, scale);
    const QRegion outline = toDevice.map(WindowOutline() & QRect(0, 0, 451, 238));
    const QRect name = toDevice.mapRect(QRect(150, 8, 130, 36));
    int leaks = 0, holes = 0, inside = 0, ink = 0;
    for (int y = window.top(); y <= window.bottom(); ++y)
        for (int x = window.left(); x <= window.right(); ++x) {
            const QPoint at = QPoint(x, y) - window.topLeft();
            if (skip.contains(QPoint(x, y)))
                continue;
            const bool shown = screen.rect().contains(x, y);
            const QRgb c = shown ? screen.pixel(x, y) : 0;
            const bool in = outline.contains(at), desktop = !shown || background(c);
            inside += in;
            (in ? holes : leaks) += in == desktop;
            ink += name.contains(at) && std::abs(qRed(c) - 40) + std::abs(qGreen(c) - 44) + std::abs(qBlue(c) - 79) < 60;
        }
    EXPECT_EQ(leaks, 0) << "pixels drawn outside the outline";
    EXPECT_LT(holes, inside / 200) << "the desktop showing through the face";
    EXPECT_GT(ink, 150 * scale * scale) << "the name on the tab is missing";
}

}  // namespace tandrel::testing
