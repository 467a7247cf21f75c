// SPDX-License-Identifier: GPL-3.0-or-later
// Runs the real program as a Wayland client of a private weston, nested in a
// private X server, and looks at weston's screen: the desktop shows around the
// outline, the face and its lettering inside it, the About window and the setup
// dialog come and go, and a drag moves the window, at several scales.
#include "app/WindowShape.h"
#include "support/Helpers.h"
#include "support/PrivateDisplay.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLibraryInfo>
#include <QTemporaryDir>
#include <QThread>
#include <QTransform>

#include <cstdlib>
#include <iostream>

#include <gtest/gtest.h>

using namespace tandrel;
using namespace tandrel::testing;

namespace {

// weston's desktop, a colour the face never uses, so that every pixel of it
// that differs belongs to a window.
const QRgb kDesktop = qRgb(46, 139, 87);
const QSize kOutput(1000, 700);
// Where the pointer rests between steps. weston keeps drawing it where it last
// was, even once it has left: in the output's bottom right pixel, where the
// outline never reaches, hardly any of it shows. Keys go to weston while the
// pointer is inside it.
const QPoint kAway(kOutput.width() - 1, kOutput.height() - 1);

bool isDesktop(QRgb c)
{
    return (c & 0xFFFFFF) == (kDesktop & 0xFFFFFF);
}

// The smallest rectangle holding every pixel of `shot` (within `within`, and
// not in `besides`) that is not the desktop.
QRect windowsIn(const QImage& shot, const QRect& within, const QRegion& besides)
{
    QRect found;
    for (int y = within.top(); y <= within.bottom(); ++y)
        for (int x = within.left(); x <= within.right(); ++x)
            if (!isDesktop(shot.pixel(x, y)) && !besides.contains(QPoint(x, y)))
                found |= QRect(x, y, 1, 1);
    return found;
}

class WaylandSession : public ::testing::TestWithParam<double> {
protected:
    void SetUp() override
    {
        if (const QString tool = missingTool({"Xvfb", "weston", "xdotool", "import"}); !tool.isEmpty())
            GTEST_SKIP() << tool.toStdString() << " is not installed (packages xvfb, weston, xdotool, imagemagick)";
        if (!QFile::exists(QLibraryInfo::path(QLibraryInfo::PluginsPath) + "/platforms/libqwayland-generic.so"))
            GTEST_SKIP() << "Qt's Wayland platform plugin is not installed (package qt6-wayland)";
        const QString why = display_.start(kOutput + QSize(100, 80));
        ASSERT_TRUE(why.isEmpty()) << why.toStdString();
        ASSERT_TRUE(runtime_.isValid() && home_.isValid());
        ASSERT_NO_FATAL_FAILURE(startWeston());
    }
    void TearDown() override
    {
        PrivateDisplay::stop(app_);
        PrivateDisplay::stop(weston_);
    }

    // A plain desktop with no panel and no animations, so that a screenshot shows
    // only the windows, each drawn in full.
    void startWeston()
    {
        QFile ini(runtime_.filePath("weston.ini"));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write(QStringLiteral("[core]\nidle-time=0\n\n[shell]\nbackground-color=0xff%1\npanel-position=none\n"
                                 "locking=false\nanimation=none\nstartup-animation=none\nclose-animation=none\n"
                                 "focus-animation=none\n")
                      .arg(kDesktop & 0xFFFFFF, 6, 16, QChar(u'0'))
                      .toLatin1());
        ini.close();
        env_ = display_.environment();
        env_.insert("XDG_RUNTIME_DIR", runtime_.path());
        weston_.setProcessEnvironment(env_);
        weston_.setStandardOutputFile(runtime_.filePath("weston.log"));
        weston_.setStandardErrorFile(runtime_.filePath("weston.log"));
        // Should weston's X11 backend give up at once ("failed to create compositor
        // backend", as it did while the X server still reset itself between
        // clients), a second start comes up.
        for (int attempt = 0; attempt < 3; ++attempt) {
            weston_.start("weston", {"--backend=x11-backend.so", "--use-pixman", "--shell=desktop-shell.so",
                                     "--socket=tandrel", QStringLiteral("--width=%1").arg(kOutput.width()),
                                     QStringLiteral("--height=%1").arg(kOutput.height()),
                                     "--config=" + ini.fileName()});
            QElapsedTimer clock;
            clock.start();
            while (clock.elapsed() < 15000 && !weston_.waitForFinished(200)) {
                // The desktop is up once nothing but the pointer, parked, differs from
                // it. weston follows the pointer only once it has come in from outside.
                display_.xdotool(QStringList{"mousemove"} + PrivateDisplay::at(kAway + QPoint(40, 40)));
                pointTo(kAway);
                const QImage shot = display_.screenshot(runtime_.filePath("desktop.png"));
                if (!shot.isNull() && ::windowsIn(shot, QRect(QPoint(), kOutput), pointer_).isEmpty())
                    return;
            }
            PrivateDisplay::stop(weston_);
        }
        const QString kept = PrivateDisplay::screenshotFolder() + "/wayland-no-desktop.png";
        QFile::remove(kept);
        QFile::copy(runtime_.filePath("desktop.png"), kept);
        QFile log(runtime_.filePath("weston.log"));
        log.open(QIODevice::ReadOnly);
        FAIL() << "weston's desktop never showed (last seen in " << kept.toStdString() << "); its log:\n"
               << log.readAll().toStdString();
    }

    QImage shot(const QString& name)
    {
        const QString dir = PrivateDisplay::screenshotFolder();
        const QImage screen = display_.screenshot(dir + "/" + name + ".png");
        return screen.isNull() ? screen : screen.copy(QRect(QPoint(), kOutput));
    }
    void key(const char* key) { display_.xdotool({"key", key}); }
    QRect windowsIn(const QImage& shot, const QRect& within, const QRegion& besides = {})
    {
        return ::windowsIn(shot, within, pointer_ + besides);
    }
    // A move to where the pointer already is tells weston nothing: come from
    // beside the point.
    void pointTo(QPoint at)
    {
        display_.xdotool(QStringList{"mousemove"} + PrivateDisplay::at(at - QPoint(2, 2)) + QStringList{"mousemove"} +
                         PrivateDisplay::at(at));
        QThread::msleep(250);
    }

    PrivateDisplay display_;
    QTemporaryDir runtime_, home_;  // both private to us, as a runtime folder must be
    QProcessEnvironment env_;
    QProcess weston_, app_;
    //! Where weston draws its pointer when it rests: its tip, at the output's
    //! bottom right corner, where the window's outline never reaches.
    const QRegion pointer_{QRect(kAway - QPoint(7, 7), kAway)};
};

TEST_P(WaylandSession, TheWindowShowsOnlyItsOutlineAndWorks)
{
    const double scale = GetParam();  // device pixels to a pixel
    QProcessEnvironment env = env_;
    env.remove("DISPLAY");  // no way back to X11
    env.insert("QT_QPA_PLATFORM", "wayland");
    env.insert("WAYLAND_DISPLAY", "tandrel");
    ASSERT_TRUE(startTandrel(app_, env, home_.path(), scale));

    // In device pixels, scaled as Qt scales the mask; the tab's top reaches a row
    // above the window, which does not show.
    const QTransform toDevice = QTransform::fromScale(scale, scale);
    const QRegion outline = toDevice.map(WindowOutline() & QRect(0, 0, 451, 238));
    const QRect bounds = outline.boundingRect();
    const QString name = QStringLiteral("wayland-scale%1").arg(scale);
    // The main window alone on the desktop for a second, once any box (that no MIDI
    // system is there, say) has been answered with Enter. Its top left corner is
    // where its outline's bounds say.
    QImage screen;
    QPoint origin;
    QElapsedTimer clock;
    clock.start();
    for (int settled = 0; settled < 4 && clock.elapsed() < 30000 && app_.state() == QProcess::Running;) {
        QThread::msleep(250);
        screen = shot(name + "-screen");
        const QRect shown = windowsIn(screen, screen.rect());
        origin = shown.topLeft() - bounds.topLeft();
        // A box in front of the face may lie within the face's bounds, but not
        // within its outline.
        const bool alone = shown.size() == bounds.size() && windowsIn(screen, shown, outline.translated(origin)).isEmpty();
        origin = alone ? origin : QPoint();
        settled = alone ? settled + 1 : 0;
        if (!alone && !shown.isEmpty())
            key("Return");
    }
    ASSERT_EQ(app_.state(), QProcess::Running);
    ASSERT_FALSE(origin.isNull()) << "the main window never showed alone, or not within its outline";

    // Pixel by pixel: the desktop wherever the outline leaves it, the face inside.
    const QRect window(origin, QSize(451, 238) * scale);
    screen.copy(window).save(PrivateDisplay::screenshotFolder() + "/" + name + ".png");
    std::cout << "screenshot: " << (PrivateDisplay::screenshotFolder() + "/" + name + ".png").toStdString() << "\n";
    expectFace(screen, window, scale, isDesktop, pointer_);
    const QRgb centre = screen.pixel(origin + QPoint(224, 70) * scale);
    EXPECT_LT(std::abs(qRed(centre) - 220) + std::abs(qGreen(centre) - 188) + std::abs(qBlue(centre) - 140), 60)
        << "the centre does not show the face's tan";

    // About and Setup each open a window of their own, tan, with no black in it,
    // and a key closes it. It may cover the face: it is what changed since the face
    // showed alone, but for the focus, which moves from Receive to the button.
    const struct {
        const char* name; QRect button; QSize inside; const char* closedBy;
    } dialogs[] = {{"about", {187, 181, 74, 21}, {274, 182}, "Return"},
                   {"setup", {109, 181, 74, 21}, {302, 185}, "Escape"}};
    QRegion focus = toDevice.mapRect(QRect(56, 101, 84, 34)).translated(origin);
    for (const auto& d : dialogs)
        focus += toDevice.mapRect(d.button).translated(origin);
    const auto changed = [&](const QImage& now) {
        QRect found;
        for (int y = 0; y < now.height(); ++y)
            for (int x = 0; x < now.width(); ++x)
                if (now.pixel(x, y) != screen.pixel(x, y) && !focus.contains(QPoint(x, y)) &&
                    !pointer_.contains(QPoint(x, y)))
                    found |= QRect(x, y, 1, 1);
        return found;
    };
    for (const auto& d : dialogs) {
        SCOPED_TRACE(d.name);
        pointTo(toDevice.mapRect(d.button).translated(origin).center());
        display_.xdotool({"click", "1"});
        pointTo(kAway);
        const QSize inside = d.inside * scale;
        QRect dialog;
        for (clock.restart(); dialog.isEmpty() && clock.elapsed() < 10000; QThread::msleep(200)) {
            const QImage withDialog = shot(name + "-" + d.name);
            const QRect shown = changed(withDialog);
            if (shown.width() < inside.width() || shown.height() < inside.height())
                continue;
            dialog = shown;
            int tan = 0, black = 0;
            for (int y = dialog.top(); y <= dialog.bottom(); ++y)
                for (int x = dialog.left(); x <= dialog.right(); ++x) {
                    const QRgb c = withDialog.pixel(x, y);
                    tan += (c & 0xFFFFFF) == (qRgb(220, 188, 140) & 0xFFFFFF);
                    black += qRed(c) + qGreen(c) + qBlue(c) < 24;
                }
            EXPECT_GT(tan, inside.width() * inside.height() * 2 / 5) << "the window is not tan";
            EXPECT_LT(black, dialog.width() * dialog.height() / 100) << "black areas in the window";
        }
        ASSERT_FALSE(dialog.isEmpty()) << "the window never opened";
        key(d.closedBy);
        QRect left = dialog;
        for (clock.restart(); !left.isEmpty() && clock.elapsed() < 10000; QThread::msleep(200))
            left = changed(shot(name + "-" + d.name + "-closed"));
        EXPECT_TRUE(left.isEmpty()) << "the window left something behind";
    }

    // A drag on the bare face moves the window with the pointer (weston moves it,
    // once asked by the window).
    // Towards whichever side has room, so that the window stays on the output.
    const QRect placed = bounds.translated(origin);
    const QPoint grab = origin + QPoint(224, 70) * scale,
                 by(placed.left() > kOutput.width() - 1 - placed.right() ? -40 : 40,
                    placed.top() > kOutput.height() - 1 - placed.bottom() ? -30 : 30);
    pointTo(grab);
    display_.xdotool({"mousedown", "1"});
    QThread::msleep(150);
    for (int step = 1; step <= 4; ++step) {
        display_.xdotool(QStringList{"mousemove"} + PrivateDisplay::at(grab + by * step / 4));
        QThread::msleep(100);
    }
    display_.xdotool({"mouseup", "1"});
    pointTo(kAway);
    QRect moved;
    for (clock.restart(); moved.topLeft() - bounds.topLeft() != origin + by && clock.elapsed() < 5000;
         QThread::msleep(200))
        moved = windowsIn(shot(name + "-dragged"), QRect(QPoint(), kOutput));
    EXPECT_EQ(moved.topLeft() - bounds.topLeft(), origin + by) << "the drag did not move the window with the pointer";
    EXPECT_EQ(moved.size(), bounds.size());
    EXPECT_EQ(app_.state(), QProcess::Running);
}

INSTANTIATE_TEST_SUITE_P(Scales, WaylandSession, ::testing::Values(1.0, 2.0, 1.5),
                         [](const ::testing::TestParamInfo<double>& scale) {
                             return "x" + QString::number(scale.param).replace(u'.', u'_').toStdString();
                         });

}  // namespace
