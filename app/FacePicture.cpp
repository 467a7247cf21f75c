// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/FacePicture.h"

#include "app/WindowShape.h"

#include <QFont>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cmath>

namespace tandrel {

namespace {

const QColor kTan(220, 188, 140);
const QColor kNavy(40, 44, 79);
const QColor& kUmber = kFaceRim;

// The outline as a smooth path, so that the rim follows the curve that the mask
// cuts instead of the mask's pixel steps.
QPainterPath outlinePath()
{
    QPainterPath body;
    body.addEllipse(QRectF(1, 16, 447, 219));
    QPainterPath tab;
    tab.addRoundedRect(QRectF(137, -1, 175, 79), 8, 8);
    return body.united(tab);
}

// Strokes the outline with `brush` in a band `inset` pixels deep; the half of the
// stroke outside the outline is cut away at the end.
void band(QPainter& p, const QPainterPath& outline, double inset, const QBrush& brush)
{
    p.strokePath(outline, QPen(brush, inset * 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
}

QFont pixelFont(const QStringList& families, QFont::StyleHint hint, int pixels, int weight)
{
    QFont f;
    f.setFamilies(families);
    f.setStyleHint(hint);
    f.setPixelSize(pixels);
    f.setWeight(static_cast<QFont::Weight>(weight));
    return f;
}

// Text pressed into the face: a light edge below it, the ink on top.
void engrave(QPainter& p, const QRectF& box, const QString& text, const QColor& ink)
{
    p.setPen(QColor(244, 226, 196));
    p.drawText(box.translated(0, 1), Qt::AlignCenter, text);
    p.setPen(ink);
    p.drawText(box, Qt::AlignCenter, text);
}

// A slot sunk into the face: darker inside, shadowed along its top edge.
void recess(QPainter& p, const QRectF& r, double radius, const QColor& fill)
{
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(246, 230, 204));
    p.drawRoundedRect(r.translated(0, 1), radius, radius);
    p.setBrush(QColor(150, 118, 74));
    p.drawRoundedRect(r, radius, radius);
    p.setBrush(fill);
    p.drawRoundedRect(r.adjusted(1, 1.5, -1, -1), radius - 1, radius - 1);
}

void screw(QPainter& p, QPointF at)
{
    QRadialGradient head(at - QPointF(1.5, 1.5), 6);
    head.setColorAt(0, QColor(236, 226, 208));
    head.setColorAt(1, QColor(150, 132, 104));
    p.setPen(QPen(QColor(112, 88, 56), 1));
    p.setBrush(head);
    p.drawEllipse(at, 5, 5);
    p.setPen(QPen(QColor(96, 76, 48), 1.4));
    p.drawLine(at + QPointF(-3, 2), at + QPointF(3, -2));
}

}  // namespace

QPixmap FacePicture(qreal devicePixelRatio)
{
    return QPixmap::fromImage(FaceImage(devicePixelRatio));
}

QImage FaceImage(qreal devicePixelRatio)
{
    const QSize size(449, 235);
    // Whole device pixels, enough to cover the last pixel at a fractional ratio.
    QImage face(QSize(static_cast<int>(std::ceil(size.width() * devicePixelRatio)),
                      static_cast<int>(std::ceil(size.height() * devicePixelRatio))).expandedTo(size),
                QImage::Format_ARGB32_Premultiplied);
    face.setDevicePixelRatio(devicePixelRatio);
    face.fill(Qt::transparent);
    QPainter p(&face);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    // Never a pixel outside the window's mask, so that a translucent window shows
    // nothing where no click would land.
    const QPainterPath outline = outlinePath();
    p.setClipRegion(WindowOutline());

    // Lit from above: a little lighter at the top, a little darker at the bottom.
    QLinearGradient light(0, 0, 0, 235);
    light.setColorAt(0, QColor(232, 204, 162));
    light.setColorAt(0.55, kTan);
    light.setColorAt(1, QColor(202, 168, 120));
    p.fillPath(outline, light);

    // An engraved line a few pixels inside the edge, then the rounded rim.
    band(p, outline, 9, QColor(244, 226, 196));
    band(p, outline, 8, QColor(160, 126, 80));
    band(p, outline, 7, light);
    band(p, outline, 3.5, QColor(178, 142, 94));
    band(p, outline, 1.5, kUmber);

    // The name on the tab, clear of the minimise button at its right.
    p.setFont(pixelFont({QStringLiteral("DejaVu Serif"), QStringLiteral("Georgia"), QStringLiteral("serif")},
                        QFont::Serif, 25, QFont::Bold));
    engrave(p, QRectF(150, 10, 128, 32), QStringLiteral("Tandrel"), kNavy);
    QFont caption = pixelFont({QStringLiteral("DejaVu Sans"), QStringLiteral("Verdana"), QStringLiteral("sans-serif")},
                              QFont::SansSerif, 9, QFont::Bold);
    caption.setLetterSpacing(QFont::AbsoluteSpacing, 1.6);
    p.setFont(caption);
    engrave(p, QRectF(140, 44, 169, 14), QStringLiteral("GT-3 BULK DUMP"), kUmber);

    // The progress bar's slot, shown empty while no dump is being sent.
    recess(p, QRectF(57, 77.5, 335, 22), 5, QColor(196, 162, 114));
    // The bezel around the status line.
    recess(p, QRectF(67, 140.5, 319, 37), 6, QColor(88, 70, 48));

    screw(p, QPointF(26, 118));
    screw(p, QPointF(423, 118));

    // Cut to the smooth outline, each edge pixel kept as far as the outline covers
    // it (a painter's clip path would cut it whole or not at all): clear what lies
    // between the picture's edges and the outline.
    QPainterPath beyond = outline;
    beyond.addRect(QRectF(-2, -2, size.width() + 4, size.height() + 4));
    beyond.setFillRule(Qt::OddEvenFill);
    p.setCompositionMode(QPainter::CompositionMode_DestinationOut);
    p.fillPath(beyond, Qt::black);
    p.end();
    return face;
}

}  // namespace tandrel
