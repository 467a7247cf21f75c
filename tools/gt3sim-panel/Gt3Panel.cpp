// SPDX-License-Identifier: GPL-3.0-or-later
#include "Gt3Panel.h"

#include "gt3sim/Options.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPalette>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>

namespace gt3sim {
namespace {

using namespace std::chrono_literals;

// A bulk load is over once the wire has been quiet this long.
constexpr int LoadIdleMs = 1000;
// The GT-3 needs this pause after each data-set message to store it.
constexpr std::chrono::microseconds LoadMinPause = 20ms;

QString number(std::size_t n)
{
    return QLocale(QLocale::English).toString(static_cast<qulonglong>(n));
}

std::size_t messagesIn(const Bytes& bytes)
{
    return static_cast<std::size_t>(std::count(bytes.begin(), bytes.end(), 0xF0));
}

}  // namespace

Gt3Panel::Gt3Panel(Peer& out, Peer& in, const QString& system, Bytes memory, QWidget* parent)
    : QWidget(parent), out_(out), in_(in), memory_(std::move(memory))
{
    setWindowTitle(QStringLiteral("GT-3 (simulated)"));
    QPalette dark = palette();
    dark.setColor(QPalette::Window, QColor(46, 48, 54));
    setPalette(dark);
    setAutoFillBackground(true);
    setStyleSheet(QStringLiteral(
        "QLabel { color: rgb(220,222,226); }"
        "QLabel#display { background-color: rgb(18,30,22); color: rgb(120,255,150); border: 2px inset rgb(20,20,20);"
        " font-family: monospace; padding: 6px; }"
        "QPushButton { background-color: rgb(200,200,204); color: rgb(20,20,24); padding: 6px 14px; border-radius: 3px; }"
        "QPushButton:checked { background-color: rgb(230,90,60); color: white; }"
        "QPushButton:disabled { color: rgb(120,120,124); }"));

    auto* title = new QLabel(QStringLiteral("<b>BOSS GT-3</b> &nbsp;(simulated) &nbsp;on %1").arg(system));
    display_ = new QLabel(QStringLiteral("Ready"));
    display_->setObjectName(QStringLiteral("display"));
    display_->setMinimumWidth(330);
    display_->setWordWrap(true);
    memoryLabel_ = new QLabel;
    memoryLabel_->setObjectName(QStringLiteral("memory"));
    progress_ = new QProgressBar;
    progress_->setTextVisible(false);
    progress_->setMaximumHeight(8);
    progress_->setVisible(false);
    dumpButton_ = new QPushButton(QStringLiteral("Bulk &Dump"));
    loadButton_ = new QPushButton(QStringLiteral("Bulk &Load"));
    loadButton_->setCheckable(true);
    dumpButton_->setObjectName(QStringLiteral("bulkDump"));
    loadButton_->setObjectName(QStringLiteral("bulkLoad"));

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(dumpButton_);
    buttons->addWidget(loadButton_);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(title);
    layout->addWidget(display_);
    layout->addWidget(progress_);
    layout->addWidget(memoryLabel_);
    layout->addLayout(buttons);

    connect(dumpButton_, &QPushButton::clicked, this, &Gt3Panel::bulkDump);
    connect(loadButton_, &QPushButton::toggled, this, &Gt3Panel::setLoading);
    connect(&poll_, &QTimer::timeout, this, &Gt3Panel::poll);
    poll_.start(50);
    showMemory();
}

Gt3Panel::~Gt3Panel()
{
    if (sender_.joinable()) sender_.join();
}

void Gt3Panel::closeEvent(QCloseEvent* event)
{
    // The sending thread reads the plan and the port until the last byte is out.
    if (sender_.joinable()) {
        display_->setText(QStringLiteral("Bulk Dump: wait for the dump to end"));
        event->ignore();
        return;
    }
    event->accept();
}

void Gt3Panel::bulkDump()
{
    if (sender_.joinable() || loadButton_->isChecked()) return;
    Options options;  // DIN pace, with the unit's pause between messages
    plan_ = std::make_unique<TransmitPlan>(memory_, options.piece, true, options.pause);
    sentEvents_ = sentBytes_ = 0;
    dumpButton_->setEnabled(false);
    loadButton_->setEnabled(false);
    progress_->setRange(0, static_cast<int>(plan_->bytes()));
    progress_->setValue(0);
    progress_->setVisible(true);
    dumpClock_.start();
    sender_ = std::thread([this, options] {
        std::string error;
        const bool ok = out_.transmit(*plan_, options, &error);
        QMetaObject::invokeMethod(
            this, [this, ok, error] { dumpEnded(ok, QString::fromStdString(error)); }, Qt::QueuedConnection);
    });
    poll();
}

void Gt3Panel::dumpEnded(bool ok, const QString& error)
{
    sender_.join();
    dumpButton_->setEnabled(true);
    loadButton_->setEnabled(true);
    progress_->setVisible(false);
    if (!ok) {
        display_->setText(QStringLiteral("Bulk Dump failed: %1").arg(error));
        say(QStringLiteral("dump failed: %1").arg(error));
        return;
    }
    display_->setText(QStringLiteral("Bulk Dump: %1 messages, %2 bytes sent")
                          .arg(number(plan_->messages()), number(plan_->bytes())));
    say(QStringLiteral("dump messages=%1 bytes=%2 fingerprint=%3")
            .arg(plan_->messages())
            .arg(plan_->bytes())
            .arg(fingerprint(memory_)));
}

void Gt3Panel::setLoading(bool on)
{
    dumpButton_->setEnabled(!on);
    if (!on) {
        // Switched off by hand before anything came: nothing to take in.
        if (load_) display_->setText(QStringLiteral("Ready"));
        load_.reset();
        return;
    }
    load_ = std::make_unique<LoadCheck>(LoadMinPause);
    loadBytesSeen_ = 0;
    display_->setText(QStringLiteral("Bulk Load: waiting for data"));
    say(QStringLiteral("bulk load on"));
}

void Gt3Panel::poll()
{
    if (sender_.joinable() && plan_) {
        // The count follows the plan's clock: the port sends each event at its start.
        const std::int64_t now = dumpClock_.nsecsElapsed() / 1000;
        const auto& events = plan_->events();
        while (sentEvents_ < events.size() && events[sentEvents_].startUs <= now)
            sentBytes_ += events[sentEvents_++].bytes.size();
        progress_->setValue(static_cast<int>(sentBytes_));
        display_->setText(QStringLiteral("Bulk Dump: %1 of %2 bytes").arg(number(sentBytes_), number(plan_->bytes())));
    }
    if (!load_) {
        StreamCheck ignored(0us);  // not in Bulk Load: the unit lets it pass
        in_.drainInto(ignored);
        return;
    }
    in_.drainInto(*load_);
    if (load_->bytes() != loadBytesSeen_) {
        loadBytesSeen_ = load_->bytes();
        sinceArrival_.start();
        display_->setText(QStringLiteral("Bulk Load: %1 messages, %2 bytes")
                              .arg(number(load_->messages()), number(load_->bytes())));
    } else if (loadBytesSeen_ > 0 && sinceArrival_.elapsed() >= LoadIdleMs) {
        loadEnded();
    }
}

void Gt3Panel::loadEnded()
{
    load_->finish();
    const bool accepted = load_->accepted();
    QString text = QString::fromStdString(load_->report());
    if (accepted) memory_ = load_->recorded();
    else text += QStringLiteral("; memory unchanged");
    say(QStringLiteral("load %1").arg(QString::fromStdString(load_->summary())));
    load_.reset();  // before the button, so that switching it off keeps the report
    loadButton_->setChecked(false);
    display_->setText(text);
    showMemory();
}

void Gt3Panel::showMemory()
{
    memoryLabel_->setText(QStringLiteral("Memory: %1 messages, %2 bytes")
                              .arg(number(messagesIn(memory_)), number(memory_.size())));
}

void Gt3Panel::say(const QString& text)
{
    std::printf("tandrel-gt3sim: %s\n", text.toLocal8Bit().constData());
    std::fflush(stdout);
}

}  // namespace gt3sim
