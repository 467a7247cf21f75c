// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/FramePacer.h"

#include <QProgressBar>

namespace tandrel {

//! The progress bar control (`proSend`): single-precision `Min`, `Max` and `Value`
//! and a `Visible` switch over a QProgressBar. Like the control it stands for, it
//! refuses a value outside [Min, Max] by throwing std::out_of_range. A new value
//! is drawn at most once a frame; a new range or showing the bar draws at once.
class ProgressBar : public QProgressBar {
public:
    explicit ProgressBar(QWidget* parent = nullptr);

    float Min() const { return min_; }
    float Max() const { return max_; }
    float Value() const { return value_; }
    bool Visible() const { return isVisibleTo(parentWidget()); }

    void setMin(float v);
    void setMax(float v);
    void setValue(float v);
    void setVisibleBar(bool on);

private:
    void showScale();

    // The bar shows fractions of its range in this many steps.
    static constexpr int kSteps = 10000;
    float min_ = 0;
    float max_ = 100;
    float value_ = 0;
    FramePacer pacer_{this, [this] { showScale(); }};
};

}  // namespace tandrel
