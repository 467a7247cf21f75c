// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A small round lamp on the face that shows the held dump's verdict: dark with no
// dump, green for good, amber for warnings, red for errors. A glyph in it, its
// tooltip and its accessible description say the same in words. Clicking it (or
// its shortcut) opens the details window.

#include "app/DumpDetailsWindow.h"
#include "dump/DumpState.h"
#include "dump/DumpVerifier.h"

#include <QAbstractButton>
#include <QKeySequence>
#include <QPointer>
#include <QTimer>

#include <chrono>

namespace tandrel {

class VerdictLamp : public QAbstractButton {
    Q_OBJECT
public:
    //! How long the input must stay quiet before a received dump is verified.
    static constexpr int kQuietMs = 1000;
    //! How often an open details window follows a dump still arriving.
    static constexpr int kFollowMs = 500;
    static inline const QKeySequence kShortcut{Qt::CTRL | Qt::Key_D};

    VerdictLamp(const DumpState& dump, QWidget* parent);
    ~VerdictLamp() override;

    //! Verifies the held dump now (an Open, or the dump emptied).
    void verifyNow();
    //! More of the dump has arrived: verify once the input has been quiet a while.
    void dumpGrew();
    //! Opens (or raises) the details window.
    void showDetails();

    const DumpReport& report() const { return report_; }
    Verdict verdict() const { return report_.verdict; }
    //! The lamp's colour for a verdict.
    static QColor colour(Verdict verdict);
    DumpDetailsWindow* detailsWindow() const { return details_.data(); }
    bool waitingForQuiet() const { return quiet_.isActive(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void display(DumpReport report);

    const DumpState& dump_;
    DumpReport report_;
    QTimer quiet_;
    std::chrono::steady_clock::time_point lastGrowth_;
    QTimer follow_;
    QPointer<DumpDetailsWindow> details_;
};

}  // namespace tandrel
