// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ProgressBar.h"

#include <QImage>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionProgressBar>

#include <cmath>
#include <stdexcept>

namespace tandrel {

namespace {

// How far around the filled part's end a style may draw its edge and shading.
constexpr int kStripMargin = 4;

}  // namespace

ProgressBar::ProgressBar(FramePacer& frame, QWidget* parent) : QProgressBar(parent), frame_(frame)
{
    QProgressBar::setRange(0, kSteps);
    setTextVisible(false);
    showScale();
}

void ProgressBar::setMin(float v)
{
    if (v > max_)
        throw std::out_of_range("progress minimum above maximum");
    min_ = v;
    value_ = std::max(value_, min_);
    showScale();
}

void ProgressBar::setMax(float v)
{
    if (v < min_)
        throw std::out_of_range("progress maximum below minimum");
    max_ = v;
    value_ = std::min(value_, max_);
    showScale();
}

void ProgressBar::setValue(float v)
{
    if (!(v >= min_ && v <= max_))
        throw std::out_of_range("progress value outside its range");
    value_ = v;
    // A hidden bar costs nothing to bring up to date, and is then right when shown.
    // A shown one is drawn with the status line that its owner sets next.
    if (isVisible())
        frame_.note();
    else
        showScale();
}

void ProgressBar::setVisibleBar(bool on)
{
    // The bar appears with the latest value, not one drawn a frame ago.
    if (on)
        showScale();
    setVisible(on);
}

void ProgressBar::markLatest()
{
    const int from = QProgressBar::value();
    const int to = step();
    if (to == from)
        return;
    // QProgressBar repaints the whole bar for a new value at once, which costs as
    // much as handing over a hundred messages: with updates held off it only
    // stores the value, and the frame paints what changed.
    setAttribute(Qt::WA_UpdatesDisabled, true);
    QProgressBar::setValue(to);
    setAttribute(Qt::WA_UpdatesDisabled, false);
    update(changedBy(from, to));
}

QRect ProgressBar::changedBy(int fromStep, int toStep)
{
    if (stripsTriedWith_ != style()) {
        stripsTriedWith_ = style();
        stripsAlike_ = drawsStripsAlike();
    }
    return stripsAlike_ ? stripBetween(fromStep, toStep) : rect();
}

QRect ProgressBar::stripBetween(int fromStep, int toStep) const
{
    QStyleOptionProgressBar option;
    initStyleOption(&option);
    const QRect filled = style()->subElementRect(QStyle::SE_ProgressBarContents, &option, this);
    const auto end = [&](int s) {
        return filled.left() + static_cast<int>(static_cast<qint64>(filled.width()) * s / kSteps);
    };
    const int left = std::min(end(fromStep), end(toStep)) - kStripMargin;
    const int right = std::max(end(fromStep), end(toStep)) + kStripMargin;
    return QRect(left, 0, right - left + 1, height()) & rect();
}

bool ProgressBar::drawsStripsAlike() const
{
    if (orientation() != Qt::Horizontal || invertedAppearance() || layoutDirection() != Qt::LeftToRight || isTextVisible())
        return false;
    const qreal ratio = devicePixelRatioF();
    QStyleOptionProgressBar option;
    initStyleOption(&option);
    // A paint clipped to the strip gives the whole bar's pixels inside it, so the
    // bar repainted there is the bar drawn whole when the two values draw the
    // same pixels everywhere else.
    const auto drawnOutside = [&](int s, const QRect& strip) {
        QImage image(size() * ratio, QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(ratio);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        option.progress = s;
        style()->drawControl(QStyle::CE_ProgressBar, &option, &painter, this);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.fillRect(strip, Qt::transparent);
        painter.end();
        return image;
    };
    // The filled part appearing, growing by a little and by a lot, and completing.
    const std::pair<int, int> tries[] = {{0, 3}, {kSteps / 3, kSteps / 3 + 7}, {kSteps / 5, kSteps / 2}, {kSteps - 9, kSteps}};
    for (const auto& [from, to] : tries) {
        const QRect strip = stripBetween(from, to);
        if (drawnOutside(from, strip) != drawnOutside(to, strip))
            return false;
    }
    return true;
}

int ProgressBar::step() const
{
    const float span = max_ - min_;
    return span > 0 ? static_cast<int>(std::lround((value_ - min_) / span * kSteps)) : 0;
}

void ProgressBar::showScale()
{
    QProgressBar::setValue(step());
}

}  // namespace tandrel
