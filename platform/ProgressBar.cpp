// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ProgressBar.h"

#include <cmath>
#include <stdexcept>

namespace tandrel {

ProgressBar::ProgressBar(QWidget* parent) : QProgressBar(parent)
{
    QProgressBar::setRange(0, kSteps);
    setTextVisible(false);
    pacer_.showNow();
}

void ProgressBar::setMin(float v)
{
    if (v > max_)
        throw std::out_of_range("progress minimum above maximum");
    min_ = v;
    value_ = std::max(value_, min_);
    pacer_.showNow();
}

void ProgressBar::setMax(float v)
{
    if (v < min_)
        throw std::out_of_range("progress maximum below minimum");
    max_ = v;
    value_ = std::min(value_, max_);
    pacer_.showNow();
}

void ProgressBar::setValue(float v)
{
    if (!(v >= min_ && v <= max_))
        throw std::out_of_range("progress value outside its range");
    value_ = v;
    pacer_.request();
}

void ProgressBar::setVisibleBar(bool on)
{
    // The bar appears with the latest value, not one drawn a frame ago.
    if (on)
        pacer_.showNow();
    setVisible(on);
}

void ProgressBar::showScale()
{
    const float span = max_ - min_;
    const int step = span > 0 ? static_cast<int>(std::lround((value_ - min_) / span * kSteps)) : 0;
    QProgressBar::setValue(step);
}

}  // namespace tandrel
