// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/PrivateDisplay.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>

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

}  // namespace tandrel::testing
