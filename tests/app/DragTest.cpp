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
    for (int i = 0; i < 3; ++i) {
        const Qt::MouseButton button = kButtons[i], other = kButtons[(i + 1) % 3];
        SCOPED_TRACE(button);
        Window win;
        frmMain& w = win.w;
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

TEST(Drag, PressingOnAControlDoesNotStartOne)
{
    Window win;
    frmMain& w = win.w;
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
