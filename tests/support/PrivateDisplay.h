// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>
#include <QPoint>
#include <QProcess>
#include <QSize>
#include <QString>
#include <QStringList>

#include <functional>

namespace tandrel::testing {

//! A private X server (Xvfb) on a display nobody else uses, for tests that look at
//! real windows from outside, and the X tools that drive and photograph it.
class PrivateDisplay {
public:
    ~PrivateDisplay();

    //! Starts the server with one screen of `size`, its root black or `white`; an empty
    //! string when it runs, otherwise why it does not.
    QString start(QSize size, bool white = false);
    //! The display's name, such as ":21".
    QString name() const { return name_; }
    //! This process's environment pointed at the display (and away from any Wayland one).
    QProcessEnvironment environment() const { return env_; }

    //! Runs an X tool against the display and returns what it printed.
    QString run(const QString& tool, const QStringList& args) const;
    QString xdotool(const QStringList& args) const { return run(QStringLiteral("xdotool"), args); }
    //! The whole screen as RGB32, also kept in `path`; null if the shot failed.
    QImage screenshot(const QString& path) const;

    static QStringList at(QPoint p) { return {QString::number(p.x()), QString::number(p.y())}; }
    //! Ends `p` politely, then firmly.
    static void stop(QProcess& p);
    //! The folder of screenshots that tests keep for people to look at, made if need be.
    static QString screenshotFolder();

private:
    bool startOn(const QString& display, QSize size, bool white);

    QProcess xvfb_;
    QProcessEnvironment env_;
    QString name_, log_;
};

//! Starts the built program in `env` as a later run would (no first-run setup), its
//! settings in `home`, drawn at `scale` device pixels to a pixel.
bool startTandrel(QProcess& app, QProcessEnvironment env, const QString& home, double scale);

//! Checks, pixel by pixel, a screenshot of the main window at `window` drawn at `scale`:
//! what `background` says is the desktop shows wherever the outline cuts the window
//! away, the face inside it, and the navy name on the tab. Pixels in `skip` are not
//! looked at, and pixels beyond the screenshot count as the desktop.
void expectFace(const QImage& screen, QRect window, double scale, const std::function<bool(QRgb)>& background,
                const QRegion& skip = {});

}  // namespace tandrel::testing
