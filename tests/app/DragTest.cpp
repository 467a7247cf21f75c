// SPDX-License-Identifier: GPL-3.0-or-later
// Moving the frameless main window by dragging its face, with mouse events
// delivered as the window system delivers them.
#include "app/frmMain.h"
#include "platform/testing/FakeServices.h"

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>

#include <gtest/gtest.h>

using namespace tandrel;
using namespace tandrel::testing;

namespace {

// A press goes to the deepest widget under the pointer, which then receives every
// move and the release until the last button is up; ignored events climb to the
// parent.
class Pointer {
public:
    explicit Pointer(QWidget& window) : window_(window) {}

    void press(QPoint global, Qt::MouseButton button)
    {
        at_ = global;
        if (held_ == Qt::NoButton) {
            QWidget* child = window_.childAt(window_.mapFromGlobal(global));
            grabber_ = child ? child : &window_;
        }
        held_ |= button;
        send(QEvent::MouseButtonPress, button);
    }
    void moveTo(QPoint global) { at_ = global; send(QEvent::MouseMove, Qt::NoButton); }
    void release(Qt::MouseButton button)
    {
        held_ &= ~button;
        send(QEvent::MouseButtonRelease, button);
        if (held_ == Qt::NoButton)
            grabber_ = nullptr;
    }

private:
    void send(QEvent::Type type, Qt::MouseButton button)
    {
        QWidget* target = grabber_ ? grabber_ : &window_;
        QMouseEvent event(type, target->mapFromGlobal(at_), at_, button, held_, Qt::NoModifier);
        QApplication::sendEvent(target, &event);
    }

    QWidget& window_;
    QWidget* grabber_ = nullptr;
    Qt::MouseButtons held_;
    QPoint at_;
};

struct Window {
    Window() { w.move(300, 200); w.show(); }
    FakeServices fake;
    DumpState MAIN;
    frmMain w{fake.services, MAIN};
};

const Qt::MouseButton kButtons[] = {Qt::LeftButton, Qt::RightButton, Qt::MiddleButton};

}  // namespace

TEST(Drag, AnyButtonKeepsTheGrabbedPointUnderThePointer)
{
    for (const Qt::MouseButton button : kButtons) {
        SCOPED_TRACE(button);
        Window win;
        frmMain& w = win.w;
        const QPoint start = w.pos();
        const QPoint grab = start + QPoint(200, 60);  // bare face under the tab
        Pointer pointer(w);

        pointer.press(grab, button);
        EXPECT_TRUE(w.bDragging);
        EXPECT_EQ(w.iDragX, 200 * 15);
        EXPECT_EQ(w.iDragY, 60 * 15);

        for (const QPoint by : {QPoint(30, -15), QPoint(-20, 25)}) {
            pointer.moveTo(grab + by);
            EXPECT_EQ(w.pos(), start + by);
        }
        EXPECT_EQ(win.fake.loop.yields, 2) << "each move yields once to pending events";

        pointer.release(button);
        EXPECT_FALSE(w.bDragging);
        const QPoint dropped = w.pos();
        pointer.moveTo(grab + QPoint(90, 90));
        EXPECT_EQ(w.pos(), dropped) << "a move after the release drags nothing";
        EXPECT_EQ(win.fake.loop.yields, 2);
    }
}

TEST(Drag, PressingOnAControlDoesNotStartOne)
{
    Window win;
    frmMain& w = win.w;
    w.proSend->setVisible(true);
    const struct {
        const char* name; QWidget* control;
    } controls[] = {
        {"Receive", w.cmdReceive}, {"Send", w.cmdSend},           {"Setup", w.cmdSetup},
        {"minimise", w.cmdMinimize}, {"status line", w.lblStatus}, {"progress bar", w.proSend},
    };
    for (const auto& c : controls) {
        for (const Qt::MouseButton button : kButtons) {
            SCOPED_TRACE(std::string(c.name) + " with button " + std::to_string(button));
            const QPoint start = w.pos();
            const QPoint on = w.mapToGlobal(c.control->geometry().center());
            Pointer pointer(w);
            pointer.press(on, button);
            EXPECT_FALSE(w.bDragging);
            pointer.moveTo(on + QPoint(40, 30));
            EXPECT_EQ(w.pos(), start);
            // Released far from the control, so that no button is clicked.
            pointer.moveTo(on + QPoint(1000, 1000));
            pointer.release(button);
        }
    }
    EXPECT_EQ(win.fake.loop.yields, 0);
    EXPECT_TRUE(win.fake.log.entries().empty()) << "no control was clicked";
}

TEST(Drag, ASecondButtonRegrabsAndAnyReleaseEndsTheDrag)
{
    Window win;
    frmMain& w = win.w;
    const QPoint start = w.pos();
    Pointer pointer(w);
    pointer.press(start + QPoint(200, 60), Qt::LeftButton);
    pointer.press(start + QPoint(210, 70), Qt::RightButton);
    EXPECT_EQ(w.iDragX, 210 * 15);
    pointer.moveTo(start + QPoint(215, 72));
    EXPECT_EQ(w.pos(), start + QPoint(5, 2));
    pointer.release(Qt::RightButton);
    EXPECT_FALSE(w.bDragging);
    pointer.moveTo(start + QPoint(260, 90));
    EXPECT_EQ(w.pos(), start + QPoint(5, 2)) << "the left button alone no longer drags";
}

TEST(Drag, GrabPointIsRoundedHalfToEven)
{
    const struct {
        float x, y; std::int16_t dragX, dragY;
    } cases[] = {{2.5f, 3.5f, 2, 4}, {1501.5f, 1502.5f, 1502, 1502}, {-2.5f, -0.4f, -2, 0}, {7.49f, 7.51f, 7, 8}};
    Window win;
    for (const auto& c : cases) {
        win.w.Form_MouseDown(2, 1, c.x, c.y);
        EXPECT_EQ(win.w.iDragX, c.dragX) << c.x;
        EXPECT_EQ(win.w.iDragY, c.dragY) << c.y;
    }
}
