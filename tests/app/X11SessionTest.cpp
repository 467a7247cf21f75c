// SPDX-License-Identifier: GPL-3.0-or-later
// Runs the real program on a private X server and looks at it from outside: the
// X window's shape, where clicks land, a screenshot of the face, and a drag, at
// several scales, and once with the compositing manager's selection taken.
#include "app/WindowShape.h"
#include "support/Helpers.h"
#include "support/PrivateDisplay.h"

#include <QElapsedTimer>
#include <QImage>
#include <QImageReader>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QTransform>

#include <cmath>
#include <cstdlib>
#include <iostream>
#include <optional>

#include <gtest/gtest.h>
#include <xcb/xcb.h>

using namespace tandrel;
using namespace tandrel::testing;

namespace {

struct Session {
    double scale;      // device pixels to a pixel
    bool compositing;  // a compositing manager owns the screen's selection
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
        xcb_create_window(c_, XCB_COPY_FROM_PARENT, owner, screen->root, 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
        const char name[] = "_NET_WM_CM_S0";
        xcb_intern_atom_reply_t* atom =
            xcb_intern_atom_reply(c_, xcb_intern_atom(c_, 0, sizeof name - 1, name), nullptr);
        if (!atom)
            return;
        xcb_set_selection_owner(c_, owner, atom->atom, XCB_CURRENT_TIME);
        xcb_get_selection_owner_reply_t* now =
            xcb_get_selection_owner_reply(c_, xcb_get_selection_owner(c_, atom->atom), nullptr);
        owns_ = now && now->owner == owner;
        std::free(now);
        std::free(atom);
    }
    ~CompositingManager() { xcb_disconnect(c_); }
    bool owns() const { return owns_; }

private:
    xcb_connection_t* c_;
    bool owns_ = false;
};

class X11Session : public ::testing::TestWithParam<Session> {
protected:
    void SetUp() override
    {
        if (const QString tool = missingTool({"Xvfb", "xdotool", "xwininfo", "xprop", "import"}); !tool.isEmpty())
            GTEST_SKIP() << tool.toStdString() << " is not installed (packages xvfb, xdotool, x11-utils, imagemagick)";
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
    const double scale = GetParam().scale;
    std::optional<CompositingManager> compositor;
    if (GetParam().compositing) {
        compositor.emplace(display_.name());
        ASSERT_TRUE(compositor->owns());
    }
    const QTransform toDevice = QTransform::fromScale(scale, scale);  // as Qt scales the mask
    QTemporaryDir home, runtime;  // both private to us, as a runtime folder must be
    QProcessEnvironment env = display_.environment();
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("XDG_RUNTIME_DIR", runtime.path());
    ASSERT_TRUE(startTandrel(app_, env, home.path(), scale));

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
    const QRegion outline = toDevice.map(WindowOutline());
    // Without a compositor a translucent window would show black where it is clear:
    // the window keeps an opaque visual and lets the X server cut it. With one, it
    // takes a visual with alpha for its antialiased rim.
    EXPECT_TRUE(x("xwininfo", {"-id", id})
                    .contains(QRegularExpression(GetParam().compositing ? "Depth:\\s*32\\b" : "Depth:\\s*24\\b")));

    // The X server holds the outline, scaled whole, as the window's bounding shape.
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
            xdotool(QStringList{"mousemove"} + at(window.topLeft() + p.at * scale) + QStringList{"getmouselocation"});
        EXPECT_EQ(QRegularExpression("window:(\\d+)").match(under).captured(1) == id, p.ours) << p.where;
    }
    xdotool({"mousemove", "0", "0"});
    QThread::msleep(300);

    // The screenshot: black root (-br) wherever the outline cuts the window away.
    const QString shots = PrivateDisplay::screenshotFolder() + QStringLiteral("/x11-scale%1").arg(scale) +
                          (GetParam().compositing ? "-composited" : "");
    const QImage screen = display_.screenshot(shots + "-screen.png");
    ASSERT_TRUE(screen.rect().contains(window)) << "no screenshot in " << shots.toStdString();
    screen.copy(window).save(shots + ".png");
    std::cout << "screenshot: " << (shots + ".png").toStdString() << "\n";
    expectFace(screen, window, scale, [](QRgb c) { return (c & 0xFFFFFF) == 0; });

    // Dragging the bare face with the right button moves the window with the pointer.
    const QPoint grab = window.topLeft() + QPoint(224, 70) * scale, to = grab + QPoint(50, 20);
    xdotool(QStringList{"mousemove"} + at(grab) + QStringList{"mousedown", "3"});
    xdotool(QStringList{"mousemove"} + at((grab + to) / 2));
    xdotool(QStringList{"mousemove"} + at(to) + QStringList{"mouseup", "3"});
    QThread::msleep(400);
    // At a fractional scale the window's position in pixels rounds to device pixels.
    EXPECT_LE((geometryOf(id).topLeft() - window.topLeft() - QPoint(50, 20)).manhattanLength(),
              scale == std::floor(scale) ? 0 : 2);
    EXPECT_EQ(app_.state(), QProcess::Running);

    // The window carries the program's icon, where Qt can read SVG at all.
    if (QImageReader::supportedImageFormats().contains("svg")) {
        EXPECT_TRUE(x("xprop", {"-id", id, "_NET_WM_ICON"}).contains("Icon ("));
    } else {
        std::cout << "not checking the window icon: Qt's SVG image plugin is not installed (package libqt6svg6)\n";
    }
}

INSTANTIATE_TEST_SUITE_P(Sessions, X11Session,
                         ::testing::Values(Session{1, false}, Session{2, false}, Session{1.5, false}, Session{1, true}),
                         [](const ::testing::TestParamInfo<Session>& s) {
                             return "x" + QString::number(s.param.scale).replace(u'.', u'_').toStdString() +
                                    (s.param.compositing ? "_composited" : "");
                         });

}  // namespace
