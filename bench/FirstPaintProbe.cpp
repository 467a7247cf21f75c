// SPDX-License-Identifier: GPL-3.0-or-later
#include "FirstPaintProbe.h"

#include "ProcessStats.h"

#include <QEvent>
#include <QTimer>

namespace tandrel::bench {

FirstPaintProbe::FirstPaintProbe(QObject* window, std::function<void(std::int64_t)> done)
    : QObject(window), done_(std::move(done))
{
    window->installEventFilter(this);
}

bool FirstPaintProbe::eventFilter(QObject* watched, QEvent* event)
{
    if (!seen_ && event->type() == QEvent::Paint) {
        seen_ = true;
        // The paint event arrives before the window is drawn; a zero timer fires
        // after the children are painted and the backing store is flushed.
        QTimer::singleShot(0, this, [this] { done_(MonotonicNs()); });
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace tandrel::bench
