// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QColor>
#include <QImage>
#include <QPixmap>

namespace tandrel {

//! The main window's face: a 449 × 235 picture drawn at the client area's top left
//! corner, with room for the controls and filling the window's outline. It is
//! drawn for a screen of `devicePixelRatio` device pixels to a pixel, so that it
//! stays sharp when scaled. Clear outside the outline, and partly clear on the
//! outline's edge.
QPixmap FacePicture(qreal devicePixelRatio = 1);
//! The same picture as an image, which any thread may draw.
QImage FaceImage(qreal devicePixelRatio = 1);

//! The colour of the face's outer rim, for the pixels the face leaves partly clear
//! where the window cannot be translucent.
inline const QColor kFaceRim(110, 82, 46);

}  // namespace tandrel
