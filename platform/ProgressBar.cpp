// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ProgressBar.h"

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

QRect ProgressBar::changedBy(int fromStep, int toStep) const
{
    // Fusion, Qt's style where the desktop names none, draws the filled part's edge
    // and shading within a few pixels of its end and the rest alike at any value;
    // another style may shade the whole of it by the value.
    const bool plain = orientation() == Qt::Horizontal && !invertedAppearance()
                       && layoutDirection() == Qt::LeftToRight && !isTextVisible();
    return plain && style()->name() == QLatin1String("fusion") ? stripBetween(fromStep, toStep) : rect();
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
