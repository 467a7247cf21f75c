// SPDX-License-Identifier: GPL-3.0-or-later
// The main window has no title bar: it is moved by dragging its face with any
// mouse button. The grabbed point of the face stays under the pointer.
#include "app/frmMain.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QWindow>

#include <algorithm>
#include <cmath>

namespace tandrel {

namespace {

constexpr float kTwipsPerPixel = 15.0f;

std::int16_t buttonCode(Qt::MouseButtons buttons)
{
    std::int16_t code = 0;
    if (buttons & Qt::LeftButton) code |= 1;
    if (buttons & Qt::RightButton) code |= 2;
    if (buttons & Qt::MiddleButton) code |= 4;
    return code;
}

std::int16_t shiftCode(Qt::KeyboardModifiers mods)
{
    std::int16_t code = 0;
    if (mods & Qt::ShiftModifier) code |= 1;
    if (mods & Qt::ControlModifier) code |= 2;
    if (mods & Qt::AltModifier) code |= 4;
    return code;
}

// Rounds to the nearest integer, halves to the even neighbour, within 16 bits.
std::int16_t roundTwips(float v)
{
    const float r = std::nearbyint(v);
    return static_cast<std::int16_t>(std::clamp(r, -32768.0f, 32767.0f));
}

}  // namespace

void frmMain::Form_MouseDown(std::int16_t, std::int16_t, float X, float Y)
{
    iDragX = roundTwips(X);
    iDragY = roundTwips(Y);
    bDragging = true;
}

void frmMain::Form_MouseMove(std::int16_t, std::int16_t, float X, float Y)
{
    if (!bDragging)
        return;
    const QPoint pos = this->pos();
    const float top = Y - iDragY + pos.y() * kTwipsPerPixel;
    const float left = X - iDragX + pos.x() * kTwipsPerPixel;
    moveToTwips(left, top);
    services_.eventLoop.DoEvents();
}

void frmMain::Form_MouseUp(std::int16_t, std::int16_t, float, float)
{
    bDragging = false;
}

void frmMain::moveToTwips(float left, float top)
{
    move(static_cast<int>(std::lround(left / kTwipsPerPixel)), static_cast<int>(std::lround(top / kTwipsPerPixel)));
}

void frmMain::mousePressEvent(QMouseEvent* event)
{
    // Only the bare face starts a drag: the status line and the progress bar do not.
    if (childAt(event->position().toPoint())) {
        event->ignore();
        return;
    }
    // Where the window system places windows itself ("wayland", "wayland-egl"), it
    // moves the window for us.
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland")) && windowHandle()) {
        windowHandle()->startSystemMove();
        return;
    }
    // Down and up name the button that changed; a move names all that are held.
    Form_MouseDown(buttonCode(event->button()), shiftCode(event->modifiers()),
                   static_cast<float>(event->position().x()) * kTwipsPerPixel,
                   static_cast<float>(event->position().y()) * kTwipsPerPixel);
}

void frmMain::mouseMoveEvent(QMouseEvent* event)
{
    Form_MouseMove(buttonCode(event->buttons()), shiftCode(event->modifiers()),
                   static_cast<float>(event->position().x()) * kTwipsPerPixel,
                   static_cast<float>(event->position().y()) * kTwipsPerPixel);
}

void frmMain::mouseReleaseEvent(QMouseEvent* event)
{
    Form_MouseUp(buttonCode(event->button()), shiftCode(event->modifiers()),
                 static_cast<float>(event->position().x()) * kTwipsPerPixel,
                 static_cast<float>(event->position().y()) * kTwipsPerPixel);
}

}  // namespace tandrel
