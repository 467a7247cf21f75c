// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>
#include <QPoint>
#include <QProcess>
#include <QSize>
#include <QString>
#include <QStringList>

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

}  // namespace tandrel::testing
