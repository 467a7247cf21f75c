// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QRegion>

class QWidget;

namespace tandrel {

//! The main window's outline, in pixels of its client area: an ellipse with a
//! rounded tab rising from the middle of its top edge.
QRegion WindowOutline();

//! How the window system is made to show the outline.
enum class WindowShaping {
    //! The window system cuts the window down to the outline (the X shape on an X
    //! server without a compositor): every pixel inside it is drawn opaque.
    Cut,
    //! A translucent window that paints only inside the outline, its rim
    //! antialiased; the mask only decides where clicks land. Wayland does not cut
    //! windows, so this is the only way to show the outline there.
    Translucent,
};

//! Translucent wherever a compositor draws the desktop, otherwise Cut.
WindowShaping ChosenWindowShaping();

//! Limits the window's drawn and clickable area to WindowOutline(). Called once
//! at start-up, before the window is first shown (translucency cannot be added to
//! a window the window system already holds); the window keeps the outline for
//! its whole life.
void ApplyWindowShape(QWidget& window, WindowShaping how = ChosenWindowShaping());

}  // namespace tandrel
