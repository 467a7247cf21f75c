// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/VerdictLamp.h"

#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

namespace tandrel {

namespace {

QString verdictWord(Verdict v)
{
    switch (v) {
    case Verdict::Empty: return QStringLiteral("No dump");
    case Verdict::Good: return QStringLiteral("Good");
    case Verdict::Warnings: return QStringLiteral("Warnings");
    case Verdict::Errors: return QStringLiteral("Errors");
    }
    return {};
}

}  // namespace

VerdictLamp::VerdictLamp(const DumpState& dump, QWidget* parent) : QAbstractButton(parent), dump_(dump)
{
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::PointingHandCursor);
    setAccessibleName(QStringLiteral("Dump verdict"));
    quiet_.setSingleShot(true);
    connect(&quiet_, &QTimer::timeout, this, [this] {
        // Arrivals since the timer started push the verdict back; the timer runs on
        // for what is left of the quiet instead of starting anew with each of them.
        const auto quietFor = std::chrono::steady_clock::now() - lastGrowth_;
        if (quietFor < std::chrono::milliseconds(kQuietMs))
            quiet_.start(std::chrono::ceil<std::chrono::milliseconds>(std::chrono::milliseconds(kQuietMs) - quietFor));
        else
            verifyNow();
    });
    // While the details window is open, a dump still arriving adds rows now and
    // then; the lamp itself waits for the quiet.
    follow_.setSingleShot(true);
    follow_.setInterval(kFollowMs);
    connect(&follow_, &QTimer::timeout, this, [this] {
        if (details_ && details_->isVisible())
            details_->setReport(VerifyDump(dump_.sSysexData));
    });
    connect(this, &QAbstractButton::clicked, this, &VerdictLamp::showDetails);
    display(VerifyDump(dump_.sSysexData));
}

VerdictLamp::~VerdictLamp()
{
    delete details_.data();
}

void VerdictLamp::verifyNow()
{
    quiet_.stop();
    follow_.stop();
    display(VerifyDump(dump_.sSysexData));
}

void VerdictLamp::dumpGrew()
{
    lastGrowth_ = std::chrono::steady_clock::now();
    if (!quiet_.isActive())
        quiet_.start(kQuietMs);
    if (details_ && details_->isVisible() && !follow_.isActive())
        follow_.start();
}

void VerdictLamp::display(DumpReport report)
{
    report_ = std::move(report);
    const QString summary = QString::fromStdString(report_.summary());
    const QString keys = kShortcut.toString(QKeySequence::NativeText);
    setToolTip(summary + QStringLiteral(" (details: ") + keys + u')');
    setAccessibleDescription(verdictWord(report_.verdict) + QStringLiteral(": ") + summary +
                             QStringLiteral(". Press ") + keys + QStringLiteral(" for the details."));
    if (details_)
        details_->setReport(report_);
    update();
}

void VerdictLamp::showDetails()
{
    if (!details_) {
        details_ = new DumpDetailsWindow(window());
        details_->setAttribute(Qt::WA_DeleteOnClose);
    }
    details_->setReport(VerifyDump(dump_.sSysexData));
    details_->show();
    details_->raise();
    details_->activateWindow();
}

QColor VerdictLamp::colour(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Empty: return QColor(58, 52, 44);
    case Verdict::Good: return QColor(40, 200, 70);
    case Verdict::Warnings: return QColor(255, 170, 0);
    case Verdict::Errors: return QColor(225, 30, 30);
    }
    return {};
}

void VerdictLamp::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect()).adjusted(1, 1, -1, -1);
    const QColor c = colour(report_.verdict);
    // A bezel, then the lens with a highlight toward its top left.
    p.setPen(QPen(QColor(40, 44, 79), 1.5));
    QRadialGradient lens(r.center() - QPointF(r.width() / 5, r.height() / 5), r.width() / 1.6);
    lens.setColorAt(0, report_.verdict == Verdict::Empty ? c.lighter(130) : c.lighter(160));
    lens.setColorAt(1, c.darker(report_.verdict == Verdict::Empty ? 110 : 125));
    p.setBrush(lens);
    p.drawEllipse(r);

    // A glyph, so the verdict does not rest on colour alone: a tick, a bar and a dot, a cross.
    const QPointF m = r.center();
    const double s = r.width() / 4.5;
    p.setPen(QPen(QColor(20, 20, 20, 210), std::max(1.5, r.width() / 9), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    switch (report_.verdict) {
    case Verdict::Empty: break;
    case Verdict::Good: {
        QPainterPath tick;
        tick.moveTo(m + QPointF(-s, 0));
        tick.lineTo(m + QPointF(-s / 3, s * 0.75));
        tick.lineTo(m + QPointF(s, -s * 0.8));
        p.drawPath(tick);
        break;
    }
    case Verdict::Warnings:
        p.drawLine(m + QPointF(0, -s), m + QPointF(0, s * 0.25));
        p.drawPoint(m + QPointF(0, s * 0.95));
        break;
    case Verdict::Errors:
        p.drawLine(m + QPointF(-s * 0.8, -s * 0.8), m + QPointF(s * 0.8, s * 0.8));
        p.drawLine(m + QPointF(-s * 0.8, s * 0.8), m + QPointF(s * 0.8, -s * 0.8));
        break;
    }
}

}  // namespace tandrel
