// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>

namespace tandrel {

//! Draws a widget that changes faster than the eye follows at most once a frame.
//!
//! The owner keeps its latest state and calls request() after every change; the
//! pacer runs `show` (which brings the widget up to date and paints it) at once
//! when a frame has passed since the last showing, and otherwise once at the start
//! of the next frame, so what is drawn is always the latest state.
class FramePacer : public QObject {
public:
    using Clock = std::chrono::steady_clock;
    //! 25 showings a second: a count still runs smoothly to the eye, and each
    //! showing of the status line costs as much as handing over a few dozen messages.
    static constexpr std::chrono::microseconds Frame{40000};

    FramePacer(QObject* parent, std::function<void()> show);

    //! The state changed: show it now or at the next frame.
    void request();
    //! Shows the state now, dropping a showing that waits for its frame.
    void showNow();
    //! Drops a showing that waits: the owner has shown a newer state itself.
    void cancel();
    bool waiting() const { return timer_.isActive(); }

private:
    void run();

    std::function<void()> show_;
    QTimer timer_;
    Clock::time_point last_{};
};

}  // namespace tandrel
