// SPDX-License-Identifier: GPL-3.0-or-later
// How long the input callback holds JACK's realtime thread, while the reader on the
// main thread drains as fast as it can: the old hand-over (the queue's lock, and a Qt
// event posted whenever the reader had caught up) against the lock-free ring the port
// uses now, on the same 1 MB fast receive from gt3sim through a private JACK server,
// in turns in one run.
//
//   bench_rt_handover [--bytes N] [--rounds R]
//
// Prints one line per turn and, per hand-over, the worst, 99.9th percentile and median
// time inside the callback over all its turns, and the old/ring ratios.
#include "platform/MidiInputQueue.h"
#include "platform/RealtimeHandOver.h"
#include "support/JackServer.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <rtmidi/RtMidi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

using namespace std::chrono_literals;
using tandrel::MidiInputQueue;
using tandrel::RealtimeHandOver;
namespace testing = tandrel::testing;

namespace {

long option(int argc, char** argv, const char* name, long fallback)
{
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], name) == 0) return std::stol(argv[i + 1]);
    return fallback;
}

//! One receive: the callback times itself into a vector made ahead, so the timing
//! allocates nothing on the realtime thread.
struct Receiver {
    bool ring = false;
    MidiInputQueue queue;
    QObject events;
    RealtimeHandOver handOver{queue, [this] { QMetaObject::invokeMethod(&events, [this] { queue.takeWake(); }, Qt::QueuedConnection); }};
    std::vector<std::int64_t> spent = std::vector<std::int64_t>(std::size_t{1} << 20);
    std::size_t calls = 0;

    static void onMessage(double, std::vector<unsigned char>* bytes, void* self)
    {
        auto* r = static_cast<Receiver*>(self);
        const auto start = std::chrono::steady_clock::now();
        if (r->ring) {
            r->handOver.write(bytes->data(), bytes->size());
        } else if (r->queue.push(bytes->data(), bytes->size())) {  // the old path, as it was
            QMetaObject::invokeMethod(&r->events, [r] { r->queue.takeWake(); }, Qt::QueuedConnection);
        }
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start);
        if (r->calls < r->spent.size()) r->spent[r->calls++] = ns.count();
    }
};

double percentile(std::vector<std::int64_t> v, double p)
{
    if (v.empty()) return 0;
    const auto at = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1));
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(at), v.end());
    return static_cast<double>(v[at]) / 1000.0;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const long bytes = option(argc, argv, "--bytes", 1000000), rounds = option(argc, argv, "--rounds", 3);
    if (qEnvironmentVariableIsEmpty("TANDREL_BUILD_DIR")) qputenv("TANDREL_BUILD_DIR", TANDREL_BUILD_DIR);
    if (!testing::JackServer::installed() || testing::gt3simPath().isEmpty()) {
        std::fprintf(stderr, "bench_rt_handover: needs jackd and a built gt3sim\n");
        return 1;
    }
    testing::JackServer jack;
    if (!jack.ok()) {
        std::fprintf(stderr, "bench_rt_handover: %s\n", qPrintable(jack.error()));
        return 1;
    }
    QTemporaryDir dir;
    const QString dump = dir.filePath("dump.syx");
    auto gen = testing::startGt3sim({"generate", dump, "--size", QString::number(bytes)});
    if (!testing::finishGt3sim(*gen, 60s) || gen->exitCode() != 0) return 1;
    std::printf("realtime_server=%d bytes=%ld\n", jack.realtime() ? 1 : 0, bytes);

    std::vector<std::int64_t> all[2];
    for (long turn = 0; turn < 2 * rounds; ++turn) {
        Receiver r;
        r.ring = turn % 2 == 1;
        r.queue.setDelivering(true);
        r.queue.setSysexBufferSize(125000);
        r.handOver.start();
        const QString name = QString("sim%1").arg(turn);
        auto sim = testing::startGt3sim({"transmit", dump, "--pacing", "fast", "--name", name, "--wait-ms", "20000"});
        if (!jack.waitForPort(name + ":out")) return 1;
        RtMidiIn in(RtMidi::UNIX_JACK, "bench");
        in.ignoreTypes(false, false, false);
        in.setCallback(&Receiver::onMessage, &r);
        for (unsigned i = 0; i < in.getPortCount(); ++i)
            if (in.getPortName(i) == (name + ":out").toStdString()) in.openPort(i, "in");
        if (!in.isPortOpen()) return 1;
        // The reader, as busy as it can be: every message taken the moment it waits.
        long received = 0;
        const auto start = std::chrono::steady_clock::now(), limit = start + 60s;
        while (received < bytes && std::chrono::steady_clock::now() < limit) {
            QCoreApplication::processEvents();
            for (std::string m; r.queue.popFront(m);) received += static_cast<long>(m.size());
            (void)r.queue.count();
        }
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        in.closePort();
        testing::finishGt3sim(*sim, 10s);
        const std::vector<std::int64_t> spent(r.spent.begin(), r.spent.begin() + static_cast<std::ptrdiff_t>(r.calls));
        const auto lost = r.queue.takeLoss();
        // Which call was the worst: the ring's first one wakes the sleeping relay.
        const auto worstAt = std::max_element(spent.begin(), spent.end()) - spent.begin();
        std::printf("turn=%ld handover=%s received=%ld seconds=%.2f calls=%zu worst_us=%.1f worst_at=%td p999_us=%.1f lost=%s\n",
                    turn, r.ring ? "ring" : "old", received, seconds, r.calls, percentile(spent, 1.0), worstAt,
                    percentile(spent, 0.999), lost ? std::to_string(*lost).c_str() : "none");
        all[turn % 2].insert(all[turn % 2].end(), spent.begin(), spent.end());
    }
    const char* names[] = {"old", "ring"};
    for (int k = 0; k < 2; ++k)
        std::printf("%s: calls=%zu worst_us=%.1f p999_us=%.1f p99_us=%.2f median_us=%.2f\n", names[k], all[k].size(),
                    percentile(all[k], 1.0), percentile(all[k], 0.999), percentile(all[k], 0.99), percentile(all[k], 0.5));
    std::printf("old/ring: worst=%.1fx p999=%.1fx\n", percentile(all[0], 1.0) / percentile(all[1], 1.0),
                percentile(all[0], 0.999) / percentile(all[1], 0.999));
    return 0;
}
