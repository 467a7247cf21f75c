// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QPixmap>

namespace tandrel {

//! The main window's face: a 449 × 235 picture drawn at the client area's top left
//! corner, with room for the controls and filling the window's outline.
QPixmap FacePicture();

}  // namespace tandrel
