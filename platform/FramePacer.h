// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>

namespace tandrel {

//! Draws a window whose state changes faster than the eye follows at most once a frame.
//!
//! The owner keeps its latest state and calls request() after every change; the
//! pacer runs `show` (which brings the widgets up to date and paints them) at once
//! when a frame has passed since the last showing. Otherwise the showing waits for
//! the first request that finds its frame due, so a transfer, which requests after
//! every message, is drawn from wake-ups it makes anyway. Only when no request comes
//! for a while after the frame's end does a timer show the latest state.
class FramePacer : public QObject {
public:
    using Clock = std::chrono::steady_clock;
    //! 15 showings a second: a count still visibly runs (a 125,000-byte send shows
    //! three or four, a megabyte received ten), and each showing of the status line
    //! and the bar costs the window's thread about 0.2 ms, as much as handing over
    //! a hundred messages.
    static constexpr std::chrono::microseconds Frame{66667};
    //! How long a due showing waits for a request before its timer wakes the window:
    //! longer than the gaps between a transfer's requests (a send sleeps about 16 ms
    //! for room on JACK, the input hands over every 10 ms), short enough that the
    //! latest count of a stream that stopped follows within a third of a frame more.
    static constexpr std::chrono::microseconds Slack{20000};

    FramePacer(QObject* parent, std::function<void()> show);

    //! The state changed: show it now or within its frame.
    void request();
    //! The state changed, and a request follows at once with more of it: show all
    //! of it then, or, if none comes, within the frame.
    void note();

private:
    void run();

    std::function<void()> show_;
    QTimer timer_;
    Clock::time_point last_{};
};

}  // namespace tandrel
