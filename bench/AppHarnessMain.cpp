// SPDX-License-Identifier: GPL-3.0-or-later
// The app harness: the real main window, offscreen, on the production MIDI ports
// and the real settings store, started exactly as the program starts. Dialogs and
// message boxes are doubles, so nothing waits for a person. One run measures one
// thing and prints key=value lines:
//
//   bench_app configure --input NAME --output NAME
//                                          stores the devices for the runs below
//   bench_app startup                      first paint of the Ready state
//   bench_app hold [FILE]                  peak memory while holding FILE (opened)
//   bench_app idle --idle-ms MS            CPU used while Ready and idle for MS
//   bench_app receive --source NAME --bytes N [--file F] [--idle-ms MS]
//                                          times the dump held from the input
//   bench_app send --dest NAME --file F    times the Send command
//
// Settings come from the real store under XDG_CONFIG_HOME, which the suite points
// at a folder of its own; the harness writes the device numbers it needs there.
#include "BenchDump.h"
#include "FirstPaintProbe.h"
#include "HarnessServices.h"
#include "ProcessStats.h"
#include "app/frmMain.h"
#include "dump/DumpState.h"
#include "setup/SettingsKeys.h"

#include <QApplication>
#include <QFile>
#include <QScreen>
#include <QTimer>

#include <cstdio>
#include <algorithm>

using tandrel::bench::MonotonicNs;
using tandrel::bench::Report;

namespace {

const QString kReadyText = QStringLiteral("Ready to Receive or Open");

QString option(const QStringList& args, const QString& name, const QString& fallback = {})
{
    const auto at = args.indexOf(name);
    return at >= 0 && at + 1 < args.size() ? args.at(at + 1) : fallback;
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// What any message box said, for the suite's notes: a benchmark run shows none.
void reportBoxes(const tandrel::bench::HarnessServices& hs)
{
    Report("boxes", static_cast<std::int64_t>(hs.boxes.boxes.size()));
    for (const auto& box : hs.boxes.boxes)
        Report("box_text", box.prompt.simplified().toStdString());
}

bool sameBytes(const tandrel::ByteString& held, const QByteArray& expected)
{
    return held.size() == static_cast<std::size_t>(expected.size())
           && std::equal(held.begin(), held.end(), expected.begin());
}

// Stores the devices the run needs, as the setup dialog would after Set.
void storeDevices(tandrel::bench::HarnessServices& hs, std::int16_t input, std::int16_t output)
{
    using namespace tandrel::settings;
    hs.settings.write(kMIDIInputDeviceID, SignedText(input));
    hs.settings.write(kMIDIOutputDeviceID, SignedText(output));
    hs.settings.write(kUserSetup, QStringLiteral("1"));
}

void startUp(tandrel::frmMain& window)
{
    // As main() does.
    window.DrawFaceAhead();
    window.Form_Load();
    Report("form_load_ns", MonotonicNs());  // the ports are open
    if (const QScreen* screen = window.screen())
        window.move(screen->availableGeometry().center() - window.rect().center());
    window.show();
    Report("shown_ns", MonotonicNs());
}

int runStartup(tandrel::bench::HarnessServices& hs, tandrel::frmMain& window, tandrel::DumpState& MAIN,
               const QString& holdPath)
{
    new tandrel::bench::FirstPaintProbe(&window, [&, holdPath](std::int64_t paintedNs) {
        Report("paint_ns", paintedNs);
        Report("ready", window.statusText() == kReadyText && window.statusColour() == tandrel::frmMain::kGreen);
        if (!holdPath.isEmpty()) {
            hs.dialog.willChoose(holdPath);
            window.cmdOpen_Click();
        }
        Report("held_bytes", static_cast<std::int64_t>(MAIN.sSysexData.size()));
        Report("peak_rss_kib", tandrel::bench::PeakRssKiB());
        Report("rss_where", tandrel::bench::RssByMapping(8));
        reportBoxes(hs);
        window.close();
    });
    startUp(window);
    return QApplication::exec();
}

int runIdle(tandrel::frmMain& window, const QStringList& args)
{
    const int idleMs = option(args, QStringLiteral("--idle-ms"), QStringLiteral("10000")).toInt();
    std::int64_t cpuAtPaint = 0;
    new tandrel::bench::FirstPaintProbe(&window, [&, idleMs](std::int64_t) {
        cpuAtPaint = tandrel::bench::CpuMicros();
        QTimer::singleShot(idleMs, &window, [&] {
            Report("idle_cpu_us", tandrel::bench::CpuMicros() - cpuAtPaint);
            Report("ready", window.statusText() == kReadyText);
            window.close();
        });
    });
    startUp(window);
    return QApplication::exec();
}

int runReceive(tandrel::bench::HarnessServices& hs, tandrel::frmMain& window, tandrel::DumpState& MAIN,
               const QStringList& args)
{
    const QString source = option(args, QStringLiteral("--source"));
    const auto expected = option(args, QStringLiteral("--bytes")).toLongLong();
    const QByteArray file = readAll(option(args, QStringLiteral("--file")));
    const qint64 idleMs = option(args, QStringLiteral("--idle-ms"), QStringLiteral("3000")).toLongLong();

    const std::int16_t input = hs.findInputDevice(source);
    if (input < 0) {
        std::fprintf(stderr, "no input device named like %s\n", qPrintable(source));
        return 1;
    }
    storeDevices(hs, input, tandrel::MIDIOutput::MidiMapper);

    std::int64_t firstNs = 0, lastNs = 0, cpuAtReady = 0, uiCpuAtReady = 0, lastGrowthNs = 0;
    std::size_t lastSize = 0;
    bool finished = false;
    const auto finish = [&] {
        if (finished)
            return;
        finished = true;
        // Read before the checks below, which are the harness's work, not the receive's.
        const std::int64_t cpu = tandrel::bench::CpuMicros() - cpuAtReady;
        const std::int64_t uiCpu = tandrel::bench::ThreadCpuMicros() - uiCpuAtReady;
        const std::size_t held = MAIN.sSysexData.size();
        Report("first_ns", firstNs);
        Report("last_ns", lastNs);
        Report("bytes", static_cast<std::int64_t>(held));
        Report("lost", std::max<std::int64_t>(0, expected - static_cast<std::int64_t>(held)));
        Report("exact", file.isEmpty() || sameBytes(MAIN.sSysexData, file));
        Report("first_difference",
               static_cast<std::int64_t>(tandrel::bench::FirstDifference(MAIN.sSysexData, file.toStdString())));
        Report("cpu_us", cpu);
        Report("ui_cpu_us", uiCpu);
        reportBoxes(hs);
        window.close();
    };
    hs.in.afterMessage = [&] {
        const std::size_t held = MAIN.sSysexData.size();
        if (held == lastSize)
            return;
        const std::int64_t now = MonotonicNs();
        lastSize = held;
        lastGrowthNs = now;
        if (firstNs == 0)
            firstNs = now;
        lastNs = now;
        if (static_cast<qint64>(held) >= expected)
            finish();
    };

    startUp(window);
    QTimer watchdog;
    QObject::connect(&watchdog, &QTimer::timeout, &window, [&] {
        // Gives up once the stream has stalled, so lost bytes are reported, not waited for.
        if (firstNs != 0 && MonotonicNs() - lastGrowthNs > idleMs * 1'000'000)
            finish();
    });
    // Seldom: the harness's own wake-ups count in the receive's CPU.
    watchdog.start(std::max<qint64>(idleMs / 4, 50));
    // Ready once the window is drawn: its first paint is start-up's, not the transfer's.
    new tandrel::bench::FirstPaintProbe(&window, [&](std::int64_t) {
        cpuAtReady = tandrel::bench::CpuMicros();
        uiCpuAtReady = tandrel::bench::ThreadCpuMicros();
        Report("ready", window.statusText() == kReadyText);
        // The direction left idle, for the fair baseline to open the same.
        Report("other_port", hs.out.DeviceName().toStdString());
        Report("other_open", hs.out.State() >= tandrel::MIDIOutput::Opened);
    });
    return QApplication::exec();
}

int runSend(tandrel::bench::HarnessServices& hs, tandrel::frmMain& window, const QStringList& args)
{
    const QString dest = option(args, QStringLiteral("--dest"));
    const QString path = option(args, QStringLiteral("--file"));
    const std::int16_t output = hs.findOutputDevice(dest);
    if (output < 0) {
        std::fprintf(stderr, "no output device named like %s\n", qPrintable(dest));
        return 1;
    }
    // Input on the first device, if there is one; the send stops it anyway.
    storeDevices(hs, 0, output);

    // Sent from the Ready window, once drawn: its first paint is start-up's, not the send's.
    new tandrel::bench::FirstPaintProbe(&window, [&, path](std::int64_t) {
        hs.dialog.willChoose(path);
        window.cmdOpen_Click();
        const std::int64_t cpuBefore = tandrel::bench::CpuMicros();
        const std::int64_t uiCpuBefore = tandrel::bench::ThreadCpuMicros();
        const std::int64_t clickNs = MonotonicNs();
        window.cmdSend_Click();
        const std::int64_t returnNs = MonotonicNs();
        const std::int64_t cpu = tandrel::bench::CpuMicros() - cpuBefore;
        const std::int64_t uiCpu = tandrel::bench::ThreadCpuMicros() - uiCpuBefore;
        // A port that drains on its own reports the queue empty after the last
        // hand-over; give it a moment to do so.
        const std::int64_t giveUp = MonotonicNs() + 2'000'000'000;
        while (hs.out.lastQueueEmptyNs < hs.out.lastTransmitEndNs && MonotonicNs() < giveUp)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        Report("click_ns", clickNs);
        Report("first_ns", hs.out.firstTransmitNs);
        Report("last_tx_end_ns", hs.out.lastTransmitEndNs);
        Report("queue_empty_ns", hs.out.lastQueueEmptyNs);
        Report("return_ns", returnNs);
        Report("messages", hs.out.transmissions);
        Report("bytes", hs.out.bytesHanded);
        Report("cpu_us", cpu);
        Report("ui_cpu_us", uiCpu);
        Report("errors", hs.out.errors);
        Report("other_port", hs.in.DeviceName().toStdString());
        Report("other_open", hs.in.State() >= tandrel::MIDIInput::Opened);
        reportBoxes(hs);
        window.close();
    });
    startUp(window);
    return QApplication::exec();
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const std::int64_t appNs = MonotonicNs();
    QApplication::setOrganizationName(QStringLiteral("Tandrel"));
    QApplication::setApplicationName(QStringLiteral("Tandrel"));
    const QStringList args = QCoreApplication::arguments();
    const QString mode = args.value(1);

    tandrel::bench::HarnessServices hs;
    if (mode != QLatin1String("configure"))
        hs.makeMIDIClientsAhead();
    tandrel::DumpState MAIN;
    const std::int64_t aheadNs = MonotonicNs();
    tandrel::frmMain window(hs.services(), MAIN);
    // Where start-up's time goes, for the suite's notes.
    Report("qapplication_ns", appNs);
    Report("clients_ahead_ns", aheadNs);
    Report("window_built_ns", MonotonicNs());

    if (mode == QLatin1String("configure")) {
        const std::int16_t input = hs.findInputDevice(option(args, QStringLiteral("--input")));
        const std::int16_t output = hs.findOutputDevice(option(args, QStringLiteral("--output")));
        storeDevices(hs, input, output);
        Report("input", input);
        Report("output", output);
        return input >= 0 && output >= 0 ? 0 : 1;
    }
    if (mode == QLatin1String("startup"))
        return runStartup(hs, window, MAIN, {});
    if (mode == QLatin1String("hold"))
        return runStartup(hs, window, MAIN, args.value(2));
    if (mode == QLatin1String("idle"))
        return runIdle(window, args);
    if (mode == QLatin1String("receive"))
        return runReceive(hs, window, MAIN, args);
    if (mode == QLatin1String("send"))
        return runSend(hs, window, args);
    std::fprintf(stderr, "usage: %s startup | hold [FILE] | receive ... | send ...\n", argv[0]);
    return 2;
}
