// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>

#include <cstdint>
#include <functional>

namespace tandrel::bench {

//! Watches a window for its first paint and calls back once the whole paint pass
//! (the window, its children and the flush) is over, with the monotonic time of
//! that moment. The bare Qt baseline and the app harness use the same probe, so
//! both are timed to the same point.
class FirstPaintProbe : public QObject {
public:
    FirstPaintProbe(QObject* window, std::function<void(std::int64_t paintedNs)> done);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::function<void(std::int64_t)> done_;
    bool seen_ = false;
};

}  // namespace tandrel::bench
