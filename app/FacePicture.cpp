// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/FacePicture.h"

#include <QColor>

namespace tandrel {

QPixmap FacePicture()
{
    QPixmap face(449, 235);
    face.fill(QColor(220, 188, 140));
    return face;
}

}  // namespace tandrel
