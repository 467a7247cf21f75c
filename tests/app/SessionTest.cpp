// SPDX-License-Identifier: GPL-3.0-or-later
// Runs the real program on a private X server, and as a Wayland client of a private
// weston nested in one, and looks at it from outside at several scales: the desktop
// wherever the outline cuts the window away, the face and its lettering inside it,
// and a drag that moves the window. On X11 also the window's shape, where clicks
// land and its icon, once with the compositing manager's selection taken; on
// Wayland the About window and the setup dialog come and go.
#include "app/WindowShape.h"
#include "platform/QtServices.h"
#include "setup/SettingsKeys.h"
#include "support/Helpers.h"
#include "support/PrivateDisplay.h"

#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QLibraryInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QTransform>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <optional>

#include <gtest/gtest.h>
#include <xcb/xcb.h>

using namespace tandrel;
using namespace tandrel::testing;

namespace {

struct Session {
    double scale;      // device pixels to a pixel
    bool compositing;  // X11: a compositing manager owns the screen's selection
};

class Desktop : public ::testing::TestWithParam<Session> {
protected:
    //! Starts the private X server once `tools` are all there.
    void startDisplay(std::initializer_list<const char*> tools, const char* packages, QSize size)
    {
        if (const QString tool = missingTool(tools); !tool.isEmpty())
            GTEST_SKIP() << tool.toStdString() << " is not installed (packages " << packages << ")";
        const QString why = display_.start(size);
        ASSERT_TRUE(why.isEmpty()) << why.toStdString();
        ASSERT_TRUE(runtime_.isValid() && home_.isValid());
        env_ = display_.environment();
        env_.insert("XDG_RUNTIME_DIR", runtime_.path());
    }
    void TearDown() override
    {
        PrivateDisplay::stop(app_);
        PrivateDisplay::stop(weston_);
    }
    //! Starts the built program in `env` as a later run would (no first-run setup), its
    //! settings in a folder of its own, drawn at the session's scale.
    bool startTandrel(QProcessEnvironment env)
    {
        QSettingsStore(home_.filePath("Tandrel/Tandrel.conf")).write(settings::kUserSetup, "1");
        env.insert("QT_SCALE_FACTOR", QString::number(GetParam().scale));
        env.insert("XDG_CONFIG_HOME", home_.path());
        app_.setProcessEnvironment(env);
        app_.setProcessChannelMode(QProcess::ForwardedChannels);
        app_.start(qEnvironmentVariable("TANDREL_BUILD_DIR") + "/tandrel", {});
        return app_.waitForStarted(10000);
    }
    //! Keeps the window's part of `screen` as `name`.png and checks it pixel by pixel: what
    //! `desktop` says is the desktop shows wherever the outline cuts the window away, the
    //! face inside it, and the navy name on the tab. Pixels in `skip` are not looked at,
    //! and pixels beyond the screenshot count as the desktop.
    void expectFace(const QImage& screen, QRect window, const QString& name, const std::function<bool(QRgb)>& desktop,
                    const QRegion& skip = {})
    {
        const QString kept = PrivateDisplay::screenshotFolder() + "/" + name + ".png";
        screen.copy(window).save(kept);
        std::cout << "screenshot: " << kept.toStdString() << "\n";
        // In device pixels, scaled as Qt scales the mask; the tab's top reaches a row
        // above the window, which does not show.
        const QTransform toDevice = QTransform::fromScale(GetParam().scale, GetParam().scale);
        const QRegion outline = toDevice.map(WindowOutline() & QRect(0, 0, 451, 238));
        const QRect lettering = toDevice.mapRect(QRect(150, 8, 130, 36));
        int leaks = 0, holes = 0, inside = 0, ink = 0;
        for (int y = window.top(); y <= window.bottom(); ++y)
            for (int x = window.left(); x <= window.right(); ++x) {
                const QPoint at = QPoint(x, y) - window.topLeft();
                if (skip.contains(QPoint(x, y)))
                    continue;
                const bool shown = screen.rect().contains(x, y);
                const QRgb c = shown ? screen.pixel(x, y) : 0;
                const bool in = outline.contains(at), bare = !shown || desktop(c);
                inside += in;
                (in ? holes : leaks) += in == bare;
                ink += lettering.contains(at) && std::abs(qRed(c) - 40) + std::abs(qGreen(c) - 44) + std::abs(qBlue(c) - 79) < 60;
            }
        EXPECT_EQ(leaks, 0) << "pixels drawn outside the outline";
        EXPECT_LT(holes, inside / 200) << "the desktop showing through the face";
        EXPECT_GT(ink, 150 * GetParam().scale * GetParam().scale) << "the name on the tab is missing";
    }
    QString xdotool(const QStringList& args) { return display_.xdotool(args); }

    PrivateDisplay display_;
    QTemporaryDir runtime_, home_;  // both private to us, as a runtime folder must be
    QProcessEnvironment env_;
    QProcess weston_, app_;
};

// Takes the selection that a compositing manager of screen 0 owns, as long as it lives.
class CompositingManager {
public:
    explicit CompositingManager(const QString& display) : c_(xcb_connect(display.toLatin1().constData(), nullptr))
    {
        if (xcb_connection_has_error(c_))
            return;
        const xcb_window_t owner = xcb_generate_id(c_);
        xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
        xcb_create_window(c_, XCB_COPY_FROM_PARENT, owner, screen->root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                          XCB_COPY_FROM_PARENT, 0, nullptr);
        const char name[] = "_NET_WM_CM_S0";
        xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(c_, xcb_intern_atom(c_, 0, sizeof name - 1, name), nullptr);
        if (!atom)
            return;
        xcb_set_selection_owner(c_, owner, atom->atom, XCB_CURRENT_TIME);
        xcb_get_selection_owner_reply_t* now =
            xcb_get_selection_owner_reply(c_, xcb_get_selection_owner(c_, atom->atom), nullptr);
        owns = now && now->owner == owner;
        std::free(now);
        std::free(atom);
    }
    ~CompositingManager() { xcb_disconnect(c_); }
    bool owns = false;

private:
    xcb_connection_t* c_;
};

class X11Session : public Desktop {
protected:
    void SetUp() override
    {
        startDisplay({"Xvfb", "xdotool", "xwininfo", "xprop", "import"}, "xvfb, xdotool, x11-utils, imagemagick",
                     {1024, 768});
    }
    QRect geometryOf(const QString& id)
    {
        const QString info = display_.run("xwininfo", {"-id", id});
        auto f = [&](const QString& label) { return QRegularExpression(label + ":\\s*(-?\\d+)").match(info).captured(1).toInt(); };
        return {f("Absolute upper-left X"), f("Absolute upper-left Y"), f("Width"), f("Height")};
    }
};

TEST_P(X11Session, TheRealWindowIsShapedPaintedAndDraggable)
{
    const double scale = GetParam().scale;
    std::optional<CompositingManager> compositor;
    if (GetParam().compositing) {
        ASSERT_TRUE(compositor.emplace(display_.name()).owns);
    }
    env_.insert("QT_QPA_PLATFORM", "xcb");
    ASSERT_TRUE(startTandrel(env_));

    // Any box (that no MIDI system is there, say) is answered with Enter so that it
    // does not cover the main window.
    QString id;
    QElapsedTimer clock;
    clock.start();
    for (int settled = 0; settled < 4 && clock.elapsed() < 30000 && app_.state() == QProcess::Running; ++settled) {
        id = xdotool({"search", "--onlyvisible", "--name", "^GT-3 Fenmarch$"}).section(u'\n', 0, 0);
        settled = id.isEmpty() ? -1 : settled;
        for (const QString& other : xdotool({"search", "--onlyvisible", "--name", "."}).split(u'\n', Qt::SkipEmptyParts))
            if (other != id)
                xdotool({"windowfocus", other, "key", "Return"});
        QThread::msleep(250);
    }
    ASSERT_FALSE(id.isEmpty()) << "the main window never showed";
    const QRect window = geometryOf(id);
    ASSERT_EQ(window.size(), QSize(451, 238) * scale);
    // Without a compositor a translucent window would show black where it is clear:
    // the window keeps an opaque visual and lets the X server cut it. With one, it
    // takes a visual with alpha for its antialiased rim.
    EXPECT_TRUE(display_.run("xwininfo", {"-id", id})
                    .contains(QRegularExpression(GetParam().compositing ? "Depth:\\s*32\\b" : "Depth:\\s*24\\b")));

    // The X server holds the outline, scaled whole (as Qt scales the mask), as the window's bounding shape.
    const QString shape = display_.run("xwininfo", {"-id", id, "-shape"});
    const auto e = QRegularExpression("Window shape extents:\\s*(\\d+)x(\\d+)\\+(-?\\d+)\\+(-?\\d+)").match(shape);
    ASSERT_TRUE(e.hasMatch()) << "the window is not shaped:\n" << shape.toStdString();
    EXPECT_EQ(QRect(e.captured(3).toInt(), e.captured(4).toInt(), e.captured(1).toInt(), e.captured(2).toInt()),
              QTransform::fromScale(scale, scale).map(WindowOutline()).boundingRect());

    // Clicks outside the outline reach whatever lies behind the window.
    const struct { const char* where; QPoint at; bool ours; } probes[] = {
        {"face", {224, 70}, true}, {"tab", {224, 20}, true}, {"top left corner", {2, 2}, false},
        {"bottom right corner", {448, 235}, false}, {"former title bar", {60, 5}, false}};
    for (const auto& p : probes) {
        const QString under = xdotool(QStringList{"mousemove"} + PrivateDisplay::at(window.topLeft() + p.at * scale) +
                                      QStringList{"getmouselocation"});
        EXPECT_EQ(QRegularExpression("window:(\\d+)").match(under).captured(1) == id, p.ours) << p.where;
    }
    xdotool({"mousemove", "0", "0"});
    QThread::msleep(300);

    // The screenshot: black root (-br) wherever the outline cuts the window away.
    const QString name = QStringLiteral("x11-scale%1").arg(scale) + (GetParam().compositing ? "-composited" : "");
    const QImage screen = display_.screenshot(PrivateDisplay::screenshotFolder() + "/" + name + "-screen.png");
    ASSERT_TRUE(screen.rect().contains(window)) << "no screenshot of " << name.toStdString();
    expectFace(screen, window, name, [](QRgb c) { return (c & 0xFFFFFF) == 0; });

    // Dragging the bare face with the right button moves the window with the pointer.
    const QPoint grab = window.topLeft() + QPoint(224, 70) * scale, to = grab + QPoint(50, 20);
    xdotool(QStringList{"mousemove"} + PrivateDisplay::at(grab) + QStringList{"mousedown", "3"});
    xdotool(QStringList{"mousemove"} + PrivateDisplay::at((grab + to) / 2));
    xdotool(QStringList{"mousemove"} + PrivateDisplay::at(to) + QStringList{"mouseup", "3"});
    QThread::msleep(400);
    // At a fractional scale the window's position in pixels rounds to device pixels.
    EXPECT_LE((geometryOf(id).topLeft() - window.topLeft() - QPoint(50, 20)).manhattanLength(),
              scale == std::floor(scale) ? 0 : 2);
    EXPECT_EQ(app_.state(), QProcess::Running);

    // The window carries the program's icon, where Qt can read SVG at all.
    if (QImageReader::supportedImageFormats().contains("svg"))
        EXPECT_TRUE(display_.run("xprop", {"-id", id, "_NET_WM_ICON"}).contains("Icon ("));
    else
        std::cout << "not checking the window icon: Qt's SVG image plugin is not installed (package libqt6svg6)\n";
}

// weston's desktop, a colour the face never uses, so that every pixel of it that
// differs belongs to a window.
const QRgb kDesktop = qRgb(46, 139, 87);
const QSize kOutput(1000, 700);
// Where the pointer rests between steps. weston keeps drawing it where it last was,
// even once it has left: in the output's bottom right pixel, where the outline never
// reaches, hardly any of it shows. Keys go to weston while the pointer is inside it.
const QPoint kAway(kOutput.width() - 1, kOutput.height() - 1);

bool isDesktop(QRgb c) { return (c & 0xFFFFFF) == (kDesktop & 0xFFFFFF); }

class WaylandSession : public Desktop {
protected:
    void SetUp() override
    {
        if (!QFile::exists(QLibraryInfo::path(QLibraryInfo::PluginsPath) + "/platforms/libqwayland-generic.so"))
            GTEST_SKIP() << "Qt's Wayland platform plugin is not installed (package qt6-wayland)";
        startDisplay({"Xvfb", "weston", "xdotool", "import"}, "xvfb, weston, xdotool, imagemagick", kOutput + QSize(100, 80));
        if (!IsSkipped() && !HasFatalFailure())
            startWeston();
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
        weston_.setProcessEnvironment(env_);
        weston_.setStandardOutputFile(runtime_.filePath("weston.log"));
        weston_.setStandardErrorFile(runtime_.filePath("weston.log"));
        // Should weston's X11 backend give up at once ("failed to create compositor
        // backend", as it did while the X server still reset itself between
        // clients), a second start comes up.
        for (int attempt = 0; attempt < 3; ++attempt) {
            weston_.start("weston", {"--backend=x11-backend.so", "--use-pixman", "--shell=desktop-shell.so",
                                     "--socket=tandrel", QStringLiteral("--width=%1").arg(kOutput.width()),
                                     QStringLiteral("--height=%1").arg(kOutput.height()), "--config=" + ini.fileName()});
            QElapsedTimer clock;
            clock.start();
            while (clock.elapsed() < 15000 && !weston_.waitForFinished(200)) {
                // The desktop is up once nothing but the pointer, parked, differs from
                // it. weston follows the pointer only once it has come in from outside.
                xdotool(QStringList{"mousemove"} + PrivateDisplay::at(kAway + QPoint(40, 40)));
                pointTo(kAway);
                if (const QImage s = shot("wayland-desktop"); !s.isNull() && windowsIn(s, s.rect()).isEmpty())
                    return;
            }
            PrivateDisplay::stop(weston_);
        }
        FAIL() << "weston's desktop never showed (last seen in wayland-desktop.png); its log:\n"
               << readBytes(runtime_.filePath("weston.log")).toStdString();
    }

    QImage shot(const QString& name)
    {
        const QImage screen = display_.screenshot(PrivateDisplay::screenshotFolder() + "/" + name + ".png");
        return screen.isNull() ? screen : screen.copy(QRect(QPoint(), kOutput));
    }
    // The smallest rectangle holding every pixel of `shot` within `within`, and not in
    // `besides` or the pointer, that is not the desktop.
    QRect windowsIn(const QImage& shot, const QRect& within, const QRegion& besides = {})
    {
        QRect found;
        for (int y = within.top(); y <= within.bottom(); ++y)
            for (int x = within.left(); x <= within.right(); ++x)
                if (!isDesktop(shot.pixel(x, y)) && !besides.contains(QPoint(x, y)) && !pointer_.contains(QPoint(x, y)))
                    found |= QRect(x, y, 1, 1);
        return found;
    }
    // A move to where the pointer already is tells weston nothing: come from beside the point.
    void pointTo(QPoint at)
    {
        xdotool(QStringList{"mousemove"} + PrivateDisplay::at(at - QPoint(2, 2)) + QStringList{"mousemove"} +
                PrivateDisplay::at(at));
        QThread::msleep(250);
    }

    //! Where weston draws its pointer when it rests: its tip, at the output's
    //! bottom right corner, where the window's outline never reaches.
    const QRegion pointer_{QRect(kAway - QPoint(7, 7), kAway)};
};

TEST_P(WaylandSession, TheWindowShowsOnlyItsOutlineAndWorks)
{
    const double scale = GetParam().scale;
    QProcessEnvironment env = env_;
    env.remove("DISPLAY");  // no way back to X11
    env.insert("QT_QPA_PLATFORM", "wayland");
    env.insert("WAYLAND_DISPLAY", "tandrel");
    ASSERT_TRUE(startTandrel(env));

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
        // A box in front of the face may lie within the face's bounds, but not within its outline.
        const bool alone = shown.size() == bounds.size() && windowsIn(screen, shown, outline.translated(origin)).isEmpty();
        origin = alone ? origin : QPoint();
        settled = alone ? settled + 1 : 0;
        if (!alone && !shown.isEmpty())
            xdotool({"key", "Return"});
    }
    ASSERT_EQ(app_.state(), QProcess::Running);
    ASSERT_FALSE(origin.isNull()) << "the main window never showed alone, or not within its outline";

    // Pixel by pixel: the desktop wherever the outline leaves it, the face inside.
    expectFace(screen, QRect(origin, QSize(451, 238) * scale), name, isDesktop, pointer_);
    const QRgb centre = screen.pixel(origin + QPoint(224, 70) * scale);
    EXPECT_LT(std::abs(qRed(centre) - 220) + std::abs(qGreen(centre) - 188) + std::abs(qBlue(centre) - 140), 60)
        << "the centre does not show the face's tan";

    // About and Setup each open a window of their own, tan, with no black in it,
    // and a key closes it. It may cover the face: it is what changed since the face
    // showed alone, but for the focus, which moves from Receive to the button.
    const struct { const char* name; QRect button; QSize inside; const char* closedBy; } dialogs[] = {
        {"about", {187, 181, 74, 21}, {274, 182}, "Return"}, {"setup", {109, 181, 74, 21}, {302, 185}, "Escape"}};
    QRegion focus = toDevice.mapRect(QRect(56, 101, 84, 34)).translated(origin);
    for (const auto& d : dialogs)
        focus += toDevice.mapRect(d.button).translated(origin);
    const auto changed = [&](const QImage& now) {
        QRect found;
        for (int y = 0; y < now.height(); ++y)
            for (int x = 0; x < now.width(); ++x)
                if (now.pixel(x, y) != screen.pixel(x, y) && !focus.contains(QPoint(x, y)) && !pointer_.contains(QPoint(x, y)))
                    found |= QRect(x, y, 1, 1);
        return found;
    };
    for (const auto& d : dialogs) {
        SCOPED_TRACE(d.name);
        pointTo(toDevice.mapRect(d.button).translated(origin).center());
        xdotool({"click", "1"});
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
        xdotool({"key", d.closedBy});
        QRect left = dialog;
        for (clock.restart(); !left.isEmpty() && clock.elapsed() < 10000; QThread::msleep(200))
            left = changed(shot(name + "-" + d.name + "-closed"));
        EXPECT_TRUE(left.isEmpty()) << "the window left something behind";
    }

    // A drag on the bare face moves the window with the pointer (weston moves it, once
    // asked by the window), towards whichever side has room so that it stays on the output.
    const QRect placed = bounds.translated(origin);
    const QPoint grab = origin + QPoint(224, 70) * scale,
                 by(placed.left() > kOutput.width() - 1 - placed.right() ? -40 : 40,
                    placed.top() > kOutput.height() - 1 - placed.bottom() ? -30 : 30);
    pointTo(grab);
    xdotool({"mousedown", "1"});
    QThread::msleep(150);
    for (int step = 1; step <= 4; ++step) {
        xdotool(QStringList{"mousemove"} + PrivateDisplay::at(grab + by * step / 4));
        QThread::msleep(100);
    }
    xdotool({"mouseup", "1"});
    pointTo(kAway);
    QRect moved;
    for (clock.restart(); moved.topLeft() - bounds.topLeft() != origin + by && clock.elapsed() < 5000; QThread::msleep(200))
        moved = windowsIn(shot(name + "-dragged"), QRect(QPoint(), kOutput));
    EXPECT_EQ(moved.topLeft() - bounds.topLeft(), origin + by) << "the drag did not move the window with the pointer";
    EXPECT_EQ(moved.size(), bounds.size());
    EXPECT_EQ(app_.state(), QProcess::Running);
}

std::string sessionName(const ::testing::TestParamInfo<Session>& s)
{
    return "x" + QString::number(s.param.scale).replace(u'.', u'_').toStdString() + (s.param.compositing ? "_composited" : "");
}
INSTANTIATE_TEST_SUITE_P(Sessions, X11Session,
                         ::testing::Values(Session{1, false}, Session{2, false}, Session{1.5, false}, Session{1, true}),
                         sessionName);
INSTANTIATE_TEST_SUITE_P(Scales, WaylandSession, ::testing::Values(Session{1, false}, Session{2, false}, Session{1.5, false}),
                         sessionName);

}  // namespace
