// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/FramePacer.h"

#include <QProgressBar>

namespace tandrel {

//! The progress bar control (`proSend`): single-precision `Min`, `Max` and `Value`
//! and a `Visible` switch over a QProgressBar. Like the control it stands for, it
//! refuses a value outside [Min, Max] by throwing std::out_of_range. A new value
//! waits for its window's frame (`frame`, whose showing calls markLatest() and
//! paints the window once), which the owner's next request draws when it is due;
//! a new range, or showing the bar, draws at once.
class ProgressBar : public QProgressBar {
public:
    ProgressBar(FramePacer& frame, QWidget* parent = nullptr);

    float Min() const { return min_; }
    float Max() const { return max_; }
    float Value() const { return value_; }
    bool Visible() const { return isVisibleTo(parentWidget()); }

    void setMin(float v);
    void setMax(float v);
    void setValue(float v);
    void setVisibleBar(bool on);

    //! For the frame: puts the latest value on the bar and marks what it changes
    //! for the window's next paint, without painting it now.
    void markLatest();

private:
    void showScale();
    int step() const;
    //! What a new value needs repainted: under a style that draws the bar the same
    //! in a strip around the filled part's end as in a whole repaint, that strip;
    //! otherwise the whole bar.
    QRect changedBy(int fromStep, int toStep) const;
    //! The strip around the ends of the filled part at two steps.
    QRect stripBetween(int fromStep, int toStep) const;

    // The bar shows fractions of its range in this many steps.
    static constexpr int kSteps = 10000;
    FramePacer& frame_;
    float min_ = 0;
    float max_ = 100;
    float value_ = 0;
};

}  // namespace tandrel
