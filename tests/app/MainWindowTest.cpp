// SPDX-License-Identifier: GPL-3.0-or-later
// The main window with every service doubled: start-up, the Ready state and the
// unload (Quit's question is among the save-first prompts of the dump tests); its
// face, outline and controls, also as drawn at several pixel densities; the drag
// by the face; and the About window. The program runs again at QT_SCALE_FACTOR 2
// and 1.5, where the window is drawn at that many device pixels to a pixel.
#include "app/FacePicture.h"
#include "app/WindowShape.h"
#include "app/frmMain.h"
#include "app/frmSplash.h"
#include "platform/testing/FakeServices.h"
#include "setup/SettingsKeys.h"
#include "support/Helpers.h"

#include <QApplication>
#include <QFrame>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QTransform>
#include <QWindow>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>

#include <gtest/gtest.h>

using namespace tandrel;
using namespace tandrel::testing;
using Log = std::vector<std::string>;
using namespace std::chrono_literals;

namespace {

struct Window {
    //! `laterRun`: Setup was done in an earlier run, so Form_Load shows no dialog.
    explicit Window(bool laterRun = false)
    {
        if (laterRun)
            fake.settings.values[settings::kUserSetup] = "1";
    }
    FakeServices fake;
    DumpState MAIN;
    frmMain w{fake.services, MAIN};
};

// A press goes to the deepest widget under the pointer, which keeps every move and
// release until the last button is up; ignored events climb to the parent.
class Pointer {
public:
    explicit Pointer(QWidget& window) : window_(window) {}
    void press(QPoint at, Qt::MouseButton button)
    {
        if (held_ == Qt::NoButton) {
            QWidget* child = window_.childAt(window_.mapFromGlobal(at));
            grabber_ = child ? child : &window_;
        }
        held_ |= button;
        send(QEvent::MouseButtonPress, at_ = at, button);
    }
    void moveTo(QPoint at) { send(QEvent::MouseMove, at_ = at, Qt::NoButton); }
    void release(Qt::MouseButton button)
    {
        held_ &= ~button;
        send(QEvent::MouseButtonRelease, at_, button);
        grabber_ = held_ ? grabber_ : &window_;
    }
    //! A click at `at` in the window's own pixels.
    static void click(QWidget& on, QPoint at, Qt::MouseButton button = Qt::LeftButton)
    {
        Pointer p(on);
        p.press(on.mapToGlobal(at), button);
        p.release(button);
    }

private:
    void send(QEvent::Type type, QPoint at, Qt::MouseButton button)
    {
        QMouseEvent event(type, grabber_->mapFromGlobal(at), at, button, held_, Qt::NoModifier);
        QApplication::sendEvent(grabber_, &event);
    }
    QWidget& window_;
    QWidget* grabber_ = &window_;
    Qt::MouseButtons held_;
    QPoint at_;
};

const Qt::MouseButton kButtons[] = {Qt::LeftButton, Qt::RightButton, Qt::MiddleButton};

}  // namespace

TEST(MainWindowStartUp, OpensThePortsInOrderAndShowsReady)
{
    const Log opened = {"in.Command=1", "in.Filter(249)=1", "in.Filter(176)=1", "in.Filter(192)=1", "in.Filter(254)=1",
                        "in.Filter(248)=1"};
    struct Case {
        const char* name;
        QMap<QString, QString> stored;
        std::int16_t inState, outState;
        Log in, out;         // the writes before the input's opening, and the output's
        const char* folder;  // nullptr: the executable's folder
    } cases[] = {
        {"later run", {{settings::kUserSetup, "1"}}, 0, 0, {"in.DeviceID=0"}, {"out.DeviceID=0"}, nullptr},
        {"input open, stored devices and folder",
         {{settings::kUserSetup, "1"}, {settings::kMIDIInputDeviceID, " 1"}, {settings::kMIDIOutputDeviceID, " 2"},
          {settings::kUserFolder, "/srv/gt3 dumps"}},
         1, 0, {"in.Command=2", "in.DeviceID=1"}, {"out.DeviceID=2"}, "/srv/gt3 dumps"},
        {"input delivering, output open", {{settings::kUserSetup, "1"}}, 2, 1, {"in.Command=2", "in.DeviceID=0"},
         {"out.DeviceID=0", "out.Command=2"}, nullptr},
        {"output on the mapper, closed", {{settings::kUserSetup, " 3"}, {settings::kMIDIOutputDeviceID, "-1"}}, 0, 0,
         {"in.DeviceID=0"}, {"out.DeviceID=-1", "out.Command=2"}, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Window win;
        win.fake.settings.values = c.stored;
        win.fake.in.state = c.inState;
        win.fake.out.state = c.outState;
        win.MAIN.sSysexData = "stale";
        win.MAIN.lByteCount = 99;
        win.w.Form_Load();
        Log want = {"in.SysexBufferSize=125000"};
        for (const Log& part : {c.in, opened, c.out, Log{"out.Command=1", "in.Command=4"}})
            want.insert(want.end(), part.begin(), part.end());
        EXPECT_EQ(win.fake.log.entries(), want);
        EXPECT_TRUE(win.fake.settings.writes.empty() && win.fake.boxes.boxes.empty());
        EXPECT_EQ(win.MAIN.sUserFolder, c.folder ? QString(c.folder) : settings::ExecutableFolder());
        // Ready: an empty dump, green text on navy, no progress bar.
        EXPECT_EQ(win.w.lblStatus->text(), "Ready to Receive or Open");
        EXPECT_EQ(win.w.lblStatus->palette().color(QPalette::WindowText), QColor(0, 255, 0));
        EXPECT_EQ(win.w.lblStatus->palette().color(QPalette::Window), QColor(40, 44, 79));
        EXPECT_TRUE(win.MAIN.sSysexData.empty() && win.MAIN.lByteCount == 0 && !win.w.bDumpUnsaved);
        EXPECT_FALSE(win.w.proSend->isVisibleTo(&win.w));
    }
}

TEST(MainWindowUnload, StopsAndClosesThePortsWhateverClosesTheWindow)
{
    const struct { std::int16_t inState; Log expected; } cases[] = {
        {MIDIInput::Closed, {"out.Command=2", "End"}},
        {MIDIInput::Opened, {"in.Command=2", "out.Command=2", "End"}},
        {MIDIInput::Delivering, {"in.Command=5", "in.Command=2", "out.Command=2", "End"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.inState);
        Window win;
        win.w.show();
        win.w.bDumpUnsaved = true;  // only Quit asks about it
        win.fake.in.state = c.inState;
        win.w.close();
        win.w.close();  // a second request finds the program already ended
        EXPECT_EQ(win.fake.log.entries(), c.expected);
        EXPECT_TRUE(win.fake.boxes.boxes.empty() && win.w.unloaded());
    }
}

TEST(WindowOutline, KeepsTheFaceAndCutsAwayTheRest)
{
    const struct { const char* where; QPoint at /* client-area pixels */; bool kept; } cases[] = {
        {"centre", {224, 125}, true},          {"tab", {224, 40}, true},              {"tab's top row", {224, 0}, true},
        {"tab's left edge", {137, 20}, true},  {"tab's right edge", {311, 20}, true}, {"left of the tab", {136, 20}, false},
        {"right of the tab", {312, 20}, false}, {"ellipse's left end", {1, 125}, true},
        {"ellipse's right end", {447, 125}, true}, {"ellipse's bottom", {224, 234}, true},
        {"beside the left end", {0, 125}, false}, {"beside the right end", {448, 125}, false},
        {"below the ellipse", {224, 235}, false}, {"top left corner", {0, 0}, false},
        {"top right corner", {450, 0}, false},  {"bottom left corner", {0, 237}, false},
        {"bottom right corner", {450, 237}, false}, {"tab's rounded corner", {137, 0}, false},
        {"former title bar, left", {60, 5}, false}, {"former title bar, right", {390, 5}, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(WindowOutline().contains(c.at), c.kept) << c.where;
}

TEST(WindowOutline, FramesTheFaceAndTheControlsAndSurvivesMinimising)
{
    const QRegion outline = WindowOutline();
    EXPECT_EQ(FacePicture().size(), QSize(449, 235));
    EXPECT_TRUE(((outline & QRect(0, 0, 451, 238)) - QRegion(0, 0, 449, 235)).isEmpty()) << "the face leaves gaps";
    Window win(true);
    frmMain& w = win.w;
    EXPECT_EQ(w.size(), QSize(451, 238));
    for (QWidget* control : std::initializer_list<QWidget*>{w.cmdReceive, w.cmdSave, w.cmdOpen, w.cmdSend, w.cmdSetup,
                                                          w.cmdAbout, w.cmdQuit, w.cmdMinimize, w.lblStatus, w.proSend})
        EXPECT_TRUE((QRegion(control->geometry()) - outline).isEmpty()) << control->metaObject()->className() << " at "
                                                                        << control->x() << "," << control->y()
                                                                        << " sticks out of the outline";
    EXPECT_GE(w.cmdFocus->geometry().top(), w.height()) << "the focus sink is never seen";
    // Walking the tab stops from Receive comes round to it after exactly these.
    QWidget* at = w.cmdReceive;
    for (QWidget* next : {w.cmdSave, w.cmdOpen, w.cmdSend, w.cmdSetup, w.cmdAbout, w.cmdQuit, w.cmdReceive}) {
        do
            at = at->nextInFocusChain();
        while (!(at->focusPolicy() & Qt::TabFocus));
        EXPECT_EQ(at, next);
    }
    // The outline is set at start-up and kept through minimising from the tab.
    w.Form_Load();
    EXPECT_EQ(w.mask(), outline);
    w.show();
    w.cmdMinimize->click();
    EXPECT_TRUE(w.windowState() & Qt::WindowMinimized);
    w.showNormal();
    EXPECT_EQ(w.mask(), outline);
}

// Start-up draws the face on a worker thread: the first paint shows what it would
// have drawn itself, at the screen's pixel density.
TEST(WindowOutline, TheFaceDrawnAheadPaintsAsTheFirstPaintWould)
{
    Window plain(true), ahead(true);
    ahead.w.DrawFaceAhead();
    const QImage expected = plain.w.grab().toImage();
    const QImage got = ahead.w.grab().toImage();
    EXPECT_EQ(got.devicePixelRatio(), expected.devicePixelRatio());
    EXPECT_TRUE(got == expected);
}

// The window as drawn, before the window system cuts it: a translucent window leaves
// every pixel outside the outline clear; one that is cut needs every pixel in it opaque.
TEST(WindowShaping, PaintsWhatEachWayOfShapingNeeds)
{
    for (const WindowShaping how : {WindowShaping::Cut, WindowShaping::Translucent}) {
        const bool translucent = how == WindowShaping::Translucent;
        SCOPED_TRACE(translucent ? "translucent" : "cut");
        Window win;
        ApplyWindowShape(win.w, how);
        EXPECT_EQ(win.w.testAttribute(Qt::WA_TranslucentBackground), translucent);
        EXPECT_EQ(win.w.mask(), WindowOutline()) << "clicks outside the outline must pass through";
        win.w.show();
        const qreal ratio = win.w.devicePixelRatioF();
        const QImage shown = win.w.grab().toImage().convertToFormat(QImage::Format_ARGB32);
        ASSERT_EQ(shown.size(), QSize(451, 238) * ratio);
        // The outline in device pixels, scaled as Qt scales a window's mask, what lies a
        // little inside it, and where the tab bears the name.
        const QTransform toDevice = QTransform::fromScale(ratio, ratio);
        const QRegion outline = toDevice.map(WindowOutline() & QRect(0, 0, 451, 238));
        const int by = 2 * int(std::ceil(ratio));
        const QRegion inner = outline & outline.translated(by, 0) & outline.translated(-by, 0) &
                              outline.translated(0, by) & outline.translated(0, -by);
        const QRect name = toDevice.mapRect(QRect(150, 8, 130, 36));
        int leaks = 0, holes = 0, partial = 0, ink = 0, detailed = 0;  // detailed: 2 × 2 blocks not of one colour
        for (int y = 0; y < shown.height(); ++y)
            for (int x = 0; x < shown.width(); ++x) {
                const QRgb p = shown.pixel(x, y);
                leaks += qAlpha(p) != 0 && !outline.contains(QPoint(x, y));
                holes += qAlpha(p) != 255 && inner.contains(QPoint(x, y));
                partial += qAlpha(p) != 0 && qAlpha(p) != 255;
                if (!name.contains(x, y))
                    continue;
                ink += std::abs(qRed(p) - 40) + std::abs(qGreen(p) - 44) + std::abs(qBlue(p) - 79) < 60;
                if (x % 2 == 0 && y % 2 == 0 && x + 1 < shown.width() && y + 1 < shown.height())
                    detailed += p != shown.pixel(x + 1, y) || p != shown.pixel(x, y + 1) || p != shown.pixel(x + 1, y + 1);
            }
        EXPECT_EQ(holes, 0);
        if (translucent) {
            EXPECT_EQ(leaks, 0) << "drawn outside the outline";
            EXPECT_GT(partial, 300 * ratio) << "the rim is not antialiased";
        } else {
            EXPECT_EQ(partial, 0) << "pixels the window system would show black";
        }
        EXPECT_GT(ink, 150 * ratio * ratio) << "the name on the tab is missing";
        EXPECT_TRUE(ratio < 2 || detailed > 100) << "the face is drawn for a lower density than the screen's";
    }
}

TEST(Drag, AnyButtonKeepsTheGrabbedPointUnderThePointer)
{
    for (int i = 0; i < 3; ++i) {
        const Qt::MouseButton button = kButtons[i], other = kButtons[(i + 1) % 3];
        SCOPED_TRACE(button);
        Window win;
        frmMain& w = win.w;
        w.move(300, 200);
        w.show();
        const QPoint start = w.pos(), grab = start + QPoint(200, 60);  // bare face under the tab
        Pointer pointer(w);
        pointer.press(grab, button);
        EXPECT_TRUE(w.bDragging);
        EXPECT_EQ(QPoint(w.iDragX, w.iDragY), QPoint(200 * 15, 60 * 15));
        for (const QPoint by : {QPoint(30, -15), QPoint(-20, 25)}) {
            pointer.moveTo(grab + by);
            EXPECT_EQ(w.pos(), start + by);
        }
        // A second button grabs afresh, and releasing it ends the drag.
        const QPoint here = w.pos();
        pointer.press(here + QPoint(210, 70), other);
        EXPECT_EQ(w.iDragX, 210 * 15);
        pointer.moveTo(here + QPoint(215, 72));
        EXPECT_EQ(w.pos(), here + QPoint(5, 2));
        pointer.release(other);
        EXPECT_FALSE(w.bDragging);
        pointer.moveTo(here + QPoint(300, 150));  // the first button still down
        pointer.release(button);
        pointer.moveTo(here + QPoint(20, 20));
        EXPECT_EQ(w.pos(), here + QPoint(5, 2)) << "no drag without a fresh press";
        EXPECT_EQ(win.fake.loop.yields, 3) << "each dragging move yields once to pending events";
    }
}

// A frame repaints a strip of the progress bar around the filled part's end: the
// window with only what the frames repainted drawn anew is the window drawn whole,
// at each pixel density.
TEST(ProgressBarFrames, RepaintWhatChangedAndLeaveTheWindowAsIfDrawnWhole)
{
    struct BarPaints : QObject {
        bool eventFilter(QObject*, QEvent* e) override
        {
            if (e->type() == QEvent::Paint)
                rects.push_back(static_cast<QPaintEvent*>(e)->rect());
            return false;
        }
        std::vector<QRect> rects;
    } paints;
    Window win(true);
    frmMain& w = win.w;
    w.Form_Load();
    w.show();
    ASSERT_TRUE(runEventsUntil([&] { return w.windowHandle() && w.windowHandle()->isExposed(); }, 2s));
    ProgressBar& bar = *w.proSend;
    bar.setMin(0);
    bar.setMax(1000);
    bar.setVisibleBar(true);
    bar.installEventFilter(&paints);
    const auto frameDrawn = std::chrono::ceil<std::chrono::milliseconds>(FramePacer::Frame + FramePacer::Slack) + 30ms;
    runEventsFor(frameDrawn);
    const QRect where = bar.geometry();
    const struct { float value; bool small; } steps[] = {
        {0.3f, true}, {1, true}, {333, false}, {334, true}, {990, false}, {999, true}, {1000, true}, {0, false}, {500, false}};
    for (const auto& k : steps) {
        SCOPED_TRACE(k.value);
        QImage shown = w.grab(where).toImage();
        paints.rects.clear();
        bar.setValue(k.value);
        w.setStatusCountPaced(QString(), static_cast<std::int64_t>(k.value), QStringLiteral(" bytes sent to GT-3"));
        runEventsFor(frameDrawn);
        ASSERT_FALSE(paints.rects.empty());
        if (k.small) {
            EXPECT_LT(paints.rects.back().width(), bar.width() / 4);
        }
        {
            QPainter painter(&shown);
            for (const QRect& r : paints.rects)
                w.render(&painter, r.topLeft(), QRegion(r.translated(where.topLeft())));
        }
        EXPECT_TRUE(shown == w.grab(where).toImage());
    }
}

TEST(Drag, PressingOnAControlDoesNotStartOne)
{
    Window win;
    frmMain& w = win.w;
    w.move(300, 200);
    w.show();
    // A button takes the press; the status line passes it on to the window.
    for (QWidget* control : {static_cast<QWidget*>(w.cmdReceive), static_cast<QWidget*>(w.lblStatus)})
        for (const Qt::MouseButton button : kButtons) {
            SCOPED_TRACE(control->metaObject()->className() + std::string(" ") + std::to_string(button));
            const QPoint start = w.pos(), on = w.mapToGlobal(control->geometry().center());
            Pointer pointer(w);
            pointer.press(on, button);
            pointer.moveTo(on + QPoint(40, 30));
            EXPECT_FALSE(w.bDragging);
            EXPECT_EQ(w.pos(), start);
            pointer.moveTo(on + QPoint(1000, 1000));  // released away, so nothing is clicked
            pointer.release(button);
        }
    EXPECT_EQ(win.fake.loop.yields, 0);
    EXPECT_TRUE(win.fake.log.entries().empty()) << "no control was clicked";
}

TEST(AboutWindow, ClosesOnOkayTypedKeysAndTheFrameOnly)
{
    using Give = std::function<void(frmSplash&)>;
    auto typed = [](Qt::Key k, const char* text, Qt::KeyboardModifiers mods = Qt::NoModifier, bool onOkay = true) {
        return Give([=](frmSplash& s) {
            QKeyEvent press(QEvent::KeyPress, k, mods, QString::fromLatin1(text));
            QApplication::sendEvent(onOkay ? static_cast<QWidget*>(s.cmdOkay) : &s, &press);
        });
    };
    auto onFrame = [](Qt::MouseButton b) {
        return Give([=](frmSplash& s) { Pointer::click(s, s.Frame1->geometry().topLeft() + QPoint(5, 5), b); });
    };
    const struct { const char* input; Give give; bool closes; } cases[] = {
        {"Okay", [](frmSplash& s) { s.cmdOkay->click(); }, true},
        {"Enter", typed(Qt::Key_Return, "\r"), true},      {"Esc", typed(Qt::Key_Escape, "\x1b"), true},
        {"space", typed(Qt::Key_Space, " "), true},         {"letter", typed(Qt::Key_Q, "q"), true},
        {"Backspace", typed(Qt::Key_Backspace, "\b"), true},
        {"letter, nothing focused", typed(Qt::Key_A, "a", Qt::NoModifier, false), true},
        {"click on the frame", onFrame(Qt::LeftButton), true},
        {"left arrow", typed(Qt::Key_Left, ""), false},
        {"Shift alone", typed(Qt::Key_Shift, "", Qt::ShiftModifier), false},
        {"Delete", typed(Qt::Key_Delete, "\x7f"), false},  {"Tab", typed(Qt::Key_Tab, "\t"), false},
        {"click on the text",
         [](frmSplash& s) { Pointer::click(s, s.Frame1->geometry().topLeft() + s.lblAbout->geometry().center()); }, false},
        {"right click on the frame", onFrame(Qt::RightButton), false},
        {"click beside the frame", [](frmSplash& s) { Pointer::click(s, QPoint(5, 170)); }, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        QPointer<frmSplash> s = new frmSplash;
        s->setAttribute(Qt::WA_DeleteOnClose);
        s->show();
        c.give(*s);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_EQ(s.isNull(), c.closes);
        delete s.data();
    }
}

TEST(AboutWindow, TheMainWindowKeepsOnlyOneAndRebuildsItAfterClosing)
{
    const auto openAboutWindows = [] {
        const QWidgetList all = QApplication::topLevelWidgets();
        return std::count_if(all.begin(), all.end(), [](QWidget* w) { return qobject_cast<frmSplash*>(w) && w->isVisible(); });
    };
    Window win;
    frmMain& w = win.w;
    w.show();
    w.cmdAbout->click();
    const QPointer<frmSplash> first = w.aboutWindow();
    ASSERT_NE(first, nullptr);
    EXPECT_FALSE(first->isModal() || QApplication::activeModalWidget()) << "the main window stays usable";
    w.cmdAbout->click();
    EXPECT_EQ(w.aboutWindow(), first.data());
    EXPECT_EQ(openAboutWindows(), 1);

    first->cmdOkay->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(first.isNull() && !w.aboutWindow()) << "closing unloads it";
    w.cmdAbout->click();
    EXPECT_EQ(openAboutWindows(), 1);
}
