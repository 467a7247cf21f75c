// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/WindowShape.h"

#include "platform/DesktopCompositor.h"

#include <QEvent>
#include <QWidget>
#include <QWindow>

namespace tandrel {

namespace {

// The outline was drawn for a window with a fixed single border and a title bar,
// whose client area starts this far from its outer corner. Ours has no frame, so
// the outline moves by the same amount to frame the face the same way.
constexpr int kFrameLeft = 3;
constexpr int kFrameTop = 22;

// Like the platform regions the constants come from, a piece covers its left and
// top edges but stops short of its right and bottom ones.
QRect pixelsWithin(int left, int top, int right, int bottom)
{
    return QRect(left, top, right - left, bottom - top);
}

QRegion roundedRect(const QRect& r, int cornerWidth, int cornerHeight)
{
    const QSize corner(cornerWidth, cornerHeight);
    const int rx = cornerWidth / 2;
    const int ry = cornerHeight / 2;
    QRegion shape(r.adjusted(rx, 0, -rx, 0));
    shape += r.adjusted(0, ry, 0, -ry);
    for (const QPoint& at : {r.topLeft(), QPoint(r.right() + 1 - cornerWidth, r.top()),
                             QPoint(r.left(), r.bottom() + 1 - cornerHeight),
                             QPoint(r.right() + 1 - cornerWidth, r.bottom() + 1 - cornerHeight)})
        shape += QRegion(QRect(at, corner), QRegion::Ellipse);
    return shape;
}

// Gives the outline to the window system again each time the window shows. Qt's
// Wayland client hands a mask set before the window's surface exists to the
// compositor unscaled, so that at a scale of 2 clicks land only in the outline's
// top left quarter; once the surface exists the mask goes through scaled.
class MaskKeeper : public QObject {
public:
    explicit MaskKeeper(QWidget& window) : QObject(&window), window_(window) { window.installEventFilter(this); }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        // The surface is made as the window shows, after this event.
        if (watched == &window_ && event->type() == QEvent::Show)
            QMetaObject::invokeMethod(this, [this] {
                if (QWindow* w = window_.windowHandle())
                    w->setMask(WindowOutline());
            }, Qt::QueuedConnection);
        return false;
    }

private:
    QWidget& window_;
};

}  // namespace

QRegion WindowOutline()
{
    const QRegion body(pixelsWithin(4, 38, 451, 257), QRegion::Ellipse);
    const QRegion tab = roundedRect(pixelsWithin(140, 21, 315, 100), 16, 16);
    return body.united(tab).translated(-kFrameLeft, -kFrameTop);
}

WindowShaping ChosenWindowShaping()
{
    // Without a compositor a translucent window's clear pixels show black.
    return DesktopComposites() ? WindowShaping::Translucent : WindowShaping::Cut;
}

void ApplyWindowShape(QWidget& window, WindowShaping how)
{
    if (how == WindowShaping::Translucent) {
        window.setAttribute(Qt::WA_TranslucentBackground);
        // A filled background would paint the corners the outline leaves out.
        window.setAutoFillBackground(false);
    }
    // Under Wayland the mask limits only where input lands; an X server cuts
    // drawing and input alike.
    window.setMask(WindowOutline());
    new MaskKeeper(window);
}

}  // namespace tandrel
