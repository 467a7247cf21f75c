// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ProgressBar.h"

#include <cmath>
#include <stdexcept>

namespace tandrel {

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
    const int latest = step();
    if (latest == QProgressBar::value())
        return;
    // QProgressBar paints a new value at once; with updates held off it only
    // stores it, and turning them on again marks the bar for the next paint.
    setUpdatesEnabled(false);
    QProgressBar::setValue(latest);
    setUpdatesEnabled(true);
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
