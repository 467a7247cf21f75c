// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QRegion>

class QWidget;

namespace tandrel {

//! The main window's outline, in pixels of its client area: an ellipse with a
//! rounded tab rising from the middle of its top edge.
QRegion WindowOutline();

//! Limits the window's drawn and clickable area to WindowOutline(). Called once
//! at start-up; the window keeps the outline for its whole life.
void ApplyWindowShape(QWidget& window);

}  // namespace tandrel
