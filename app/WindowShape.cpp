// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/WindowShape.h"

#include <QPainterPath>
#include <QWidget>

namespace tandrel {

namespace {
// The outline was drawn for a window with a fixed single border and a title bar,
// whose client area starts this far from its outer corner. Ours has no frame, so
// the outline moves by the same amount to frame the face the same way.
constexpr int kFrameLeft = 3;
constexpr int kFrameTop = 22;
}  // namespace

QRegion WindowOutline()
{
    // Body: the ellipse inscribed in (4, 38)–(451, 257); tab: a rounded rectangle
    // (140, 21)–(315, 100) with 16 × 16 corner ellipses; both in outer-window pixels.
    QRegion body(QRect(QPoint(4, 38), QPoint(451 - 1, 257 - 1)), QRegion::Ellipse);
    QPainterPath tabPath;
    tabPath.addRoundedRect(QRectF(140, 21, 315 - 140, 100 - 21), 8, 8);
    const QRegion tab(tabPath.toFillPolygon().toPolygon());
    return body.united(tab).translated(-kFrameLeft, -kFrameTop);
}

void ApplyWindowShape(QWidget& window)
{
    window.setMask(WindowOutline());
}

}  // namespace tandrel
