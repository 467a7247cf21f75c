// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/FramePacer.h"

#include <algorithm>

namespace tandrel {

FramePacer::FramePacer(QObject* parent, std::function<void()> show) : QObject(parent), show_(std::move(show))
{
    timer_.setSingleShot(true);
    // Precise, so a frame is not stretched to the coarse timer's 5% slack.
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &FramePacer::run);
}

void FramePacer::request()
{
    // A loop that keeps control (a drain of many messages) never lets the timer
    // fire, so the frame is also checked here.
    if (Clock::now() - last_ >= Frame)
        run();
    else
        note();
}

void FramePacer::note()
{
    if (timer_.isActive())
        return;
    const Clock::duration until = Frame + Slack - (Clock::now() - last_);
    timer_.start(std::max(std::chrono::ceil<std::chrono::milliseconds>(until), std::chrono::milliseconds(0)));
}

void FramePacer::run()
{
    timer_.stop();
    last_ = Clock::now();
    show_();
}

}  // namespace tandrel
