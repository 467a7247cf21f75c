// SPDX-License-Identifier: GPL-3.0-or-later
// The fair start-up baseline: a bare Qt window that first opens the MIDI clients
// and ports Tandrel opens at start-up, the same way and in the same order: a JACK
// client without a process callback (Tandrel's reads the server's frame clock), an
// RtMidi input with its callback on the device, an RtMidi output on the device.
// Nothing else.
//
//   bench_bare_midi --device NAME              first paint and peak memory
//   bench_bare_midi --device NAME --idle-ms MS CPU used while shown and idle for MS
//
// Results are key=value lines on stdout.
#include "FirstPaintProbe.h"
#include "ProcessStats.h"

#include <rtmidi/RtMidi.h>

#include <jack/jack.h>

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <atomic>
#include <cstdio>
#include <string>

using tandrel::bench::Report;

namespace {

// Counts what arrives, as the least a receiver does on RtMidi's thread.
void onMessage(double, std::vector<unsigned char>* message, void* user)
{
    static_cast<std::atomic<std::size_t>*>(user)->fetch_add(message->size());
}

template <typename Port>
unsigned findPort(Port& port, const std::string& part)
{
    for (unsigned i = 0; i < port.getPortCount(); ++i)
        if (port.getPortName(i).find(part) != std::string::npos)
            return i;
    throw RtMidiError("no port named like " + part, RtMidiError::INVALID_DEVICE);
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    Report("qapplication_ns", tandrel::bench::MonotonicNs());
    const QStringList args = QCoreApplication::arguments();
    const auto option = [&](const QString& name) {
        const auto at = args.indexOf(name);
        return at >= 0 && at + 1 < args.size() ? args.at(at + 1) : QString();
    };
    const std::string device = option(QStringLiteral("--device")).toStdString();
    const int idleMs = option(QStringLiteral("--idle-ms")).toInt();

    jack_status_t status{};
    jack_client_t* monitor = jack_client_open("bench_bare_monitor", JackNoStartServer, &status);
    if (!monitor || jack_activate(monitor) != 0) {
        std::fprintf(stderr, "no JACK server\n");
        return 1;
    }
    std::atomic<std::size_t> received{0};
    try {
        RtMidiIn in(RtMidi::UNIX_JACK, "bench_bare_in");
        in.ignoreTypes(false, false, false);
        in.setCallback(&onMessage, &received);
        in.openPort(findPort(in, device), "in");
        RtMidiOut out(RtMidi::UNIX_JACK, "bench_bare_out");
        out.openPort(findPort(out, device), "out");
        Report("midi_open_ns", tandrel::bench::MonotonicNs());

        QWidget window;
        window.setFixedSize(451, 238);
        std::int64_t cpuAtPaint = 0;
        tandrel::bench::FirstPaintProbe probe(&window, [&](std::int64_t paintedNs) {
            Report("paint_ns", paintedNs);
            Report("peak_rss_kib", tandrel::bench::PeakRssKiB());
            Report("rss_where", tandrel::bench::RssByMapping(8));
            if (idleMs <= 0) {
                QCoreApplication::quit();
                return;
            }
            cpuAtPaint = tandrel::bench::CpuMicros();
            QTimer::singleShot(idleMs, &window, [&] {
                Report("idle_cpu_us", tandrel::bench::CpuMicros() - cpuAtPaint);
                QCoreApplication::quit();
            });
        });
        window.show();
        Report("shown_ns", tandrel::bench::MonotonicNs());
        const int code = QApplication::exec();
        jack_client_close(monitor);
        return code;
    } catch (const RtMidiError& e) {
        std::fprintf(stderr, "RtMidi: %s\n", e.what());
        return 1;
    }
}
