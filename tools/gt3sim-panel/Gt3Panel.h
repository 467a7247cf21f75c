// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "LoadCheck.h"
#include "gt3sim/Peer.h"
#include "gt3sim/TransmitPlan.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <memory>
#include <thread>

class QLabel;
class QProgressBar;
class QPushButton;

namespace gt3sim {

//! The simulated GT-3's front panel: Bulk Dump sends its memory at DIN pace,
//! Bulk Load takes a dump in, checks it and keeps it. The ports' threads only
//! queue what they receive; a timer on the UI thread takes it and paints.
class Gt3Panel : public QWidget {
    Q_OBJECT
public:
    //! A panel on the unit's MIDI OUT and MIDI IN, which live on `system`.
    Gt3Panel(Peer& out, Peer& in, const QString& system, Bytes memory, QWidget* parent = nullptr);
    ~Gt3Panel() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void bulkDump();
    void dumpEnded(bool ok, const QString& error);
    void setLoading(bool on);
    void loadEnded();
    void poll();
    void showMemory();
    void say(const QString& text);

    Peer& out_;
    Peer& in_;
    Bytes memory_;
    QLabel* display_;
    QLabel* memoryLabel_;
    QProgressBar* progress_;
    QPushButton* dumpButton_;
    QPushButton* loadButton_;
    QTimer poll_;
    // Bulk Dump: the plan is read by the sending thread until it ends.
    std::unique_ptr<TransmitPlan> plan_;
    std::thread sender_;
    QElapsedTimer dumpClock_;
    std::size_t sentEvents_ = 0, sentBytes_ = 0;
    // Bulk Load
    std::unique_ptr<LoadCheck> load_;
    std::size_t loadBytesSeen_ = 0;
    QElapsedTimer sinceArrival_;
};

}  // namespace gt3sim
