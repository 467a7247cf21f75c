// SPDX-License-Identifier: GPL-3.0-or-later
// The soak: the real main window on the production MIDI ports, through a private
// JACK server, runs Receive, Save, Open and Send of one GT-3 sized dump over and
// over, with gt3sim playing the GT-3 at both ends. Every cycle checks every byte
// (received, saved, opened, and what gt3sim recorded of the send); the resident
// memory after warm-up must stay within a bound. JACK itself drops MIDI that a
// client misses in an xrun, so a cycle that loses bytes during xruns is run again
// and counted apart; a byte lost without an xrun fails the soak. See bench/soak.sh.
//
//   bench_soak [--cycles N] [--bytes B] [--warmup W] [--bound-kib K]
#include "app/frmMain.h"
#include "platform/MidiPorts.h"
#include "platform/testing/FakeServices.h"
#include "setup/SettingsKeys.h"
#include "ProcessStats.h"
#include "support/JackServer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <jack/jack.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <optional>
#include <string>

using namespace tandrel;
using namespace tandrel::testing;
using namespace std::chrono_literals;

namespace {

//! Bytes of `got` that are not the dump's: missing, extra or different.
std::size_t bytesLost(const ByteString& got, const ByteString& dump)
{
    std::size_t lost = got.size() > dump.size() ? got.size() - dump.size() : dump.size() - got.size();
    for (std::size_t i = 0; i < std::min(got.size(), dump.size()); ++i)
        lost += got[i] != dump[i];
    return lost;
}

//! Where `got` first parts from the dump, for the record.
std::string firstDifference(const ByteString& got, const ByteString& dump)
{
    std::size_t at = 0;
    while (at < got.size() && at < dump.size() && got[at] == dump[at])
        ++at;
    return "got " + std::to_string(got.size()) + " bytes, first difference at " + std::to_string(at);
}

//! Counts the server's xruns: cycles in which some client was late, which on a
//! loaded machine can cost MIDI events in transit before any port sees them.
class XrunCounter {
public:
    XrunCounter()
    {
        client_ = jack_client_open("soak-xruns", JackNoStartServer, nullptr);
        if (!client_)
            return;
        jack_set_xrun_callback(client_, [](void* self) { return ++static_cast<XrunCounter*>(self)->xruns_, 0; }, this);
        jack_activate(client_);
    }
    ~XrunCounter()
    {
        if (client_)
            jack_client_close(client_);
    }
    XrunCounter(const XrunCounter&) = delete;
    XrunCounter& operator=(const XrunCounter&) = delete;
    int xruns() const { return xruns_.load(); }

private:
    jack_client_t* client_ = nullptr;
    std::atomic<int> xruns_{0};
};

long option(const QStringList& args, const char* name, long fallback)
{
    const qsizetype at = args.indexOf(QString::fromLatin1(name));
    return at >= 0 && at + 1 < args.size() ? args.at(at + 1).toLong() : fallback;
}

}  // namespace

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("TANDREL_MIDI_PACING", "fast");  // a cable's pace would make each cycle last a minute
    QApplication qapp(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const long cycles = option(args, "--cycles", 200);
    const long bytes = option(args, "--bytes", 125000);
    const long warmup = std::clamp(option(args, "--warmup", 20), 1L, std::max(1L, cycles - 1));
    const long bound = option(args, "--bound-kib", 4096);

    if (gt3simPath().isEmpty()) {
        std::fprintf(stderr, "bench_soak: gt3sim not found; set TANDREL_BUILD_DIR to the build tree\n");
        return 2;
    }
    QTemporaryDir dir;
    const QString dumpPath = dir.filePath(QStringLiteral("gt3.syx"));
    const QString savedPath = dir.filePath(QStringLiteral("saved.syx"));
    const QString recordedPath = dir.filePath(QStringLiteral("recorded.syx"));
    auto gen = startGt3sim({QStringLiteral("generate"), dumpPath, QStringLiteral("--size"), QString::number(bytes)});
    if (!finishGt3sim(*gen, 30s) || gen->exitCode() != 0) {
        std::fprintf(stderr, "bench_soak: gt3sim could not make the dump\n");
        return 2;
    }
    const ByteString dump = readBytes(dumpPath).toStdString();

    JackServer jack;
    if (!jack.ok()) {
        std::fprintf(stderr, "bench_soak: %s\n", qPrintable(jack.error()));
        return 2;
    }

    const XrunCounter xruns;
    FakeServices fake;
    fake.settings.values = {{settings::kUserSetup, QStringLiteral("1")},
                            {settings::kMIDIInputDeviceID, QStringLiteral(" 0")},
                            {settings::kMIDIOutputDeviceID, QStringLiteral(" 0")}};
    fake.loop.processQtEvents = true;
    const std::unique_ptr<MIDIInput> in = CreateMIDIInput();
    const std::unique_ptr<MIDIOutput> out = CreateMIDIOutput();
    Services services{*in, *out, fake.dialog, fake.boxes, fake.settings, fake.folders, fake.beeper, fake.loop};
    DumpState MAIN;
    frmMain window(services, MAIN);
    window.Form_Load();
    runEventsUntil([] { return false; }, 200ms);
    fake.boxes.boxes.clear();  // no device was there yet: said once at start-up

    // One cycle: Receive from gt3sim, Save, Open, Send to gt3sim. Each step is
    // checked against what it was handed: the dump, the held bytes, the file.
    struct Attempt {
        std::size_t receive = 0, save = 0, open = 0, send = 0;
        int xruns = 0;
        double seconds = 0;
        std::size_t lost() const { return receive + save + open + send; }
    };
    const auto attempt = [&]() -> std::optional<Attempt> {
        QElapsedTimer clock;
        clock.start();
        Attempt a;
        auto tx = startGt3sim({QStringLiteral("transmit"), dumpPath, QStringLiteral("--pacing"), QStringLiteral("fast"),
                               QStringLiteral("--name"), QStringLiteral("soaktx")});
        auto rx = startGt3sim({QStringLiteral("receive"), recordedPath, QStringLiteral("--name"), QStringLiteral("soakrx"),
                               QStringLiteral("--expect-bytes"), QString::number(bytes)});
        if (!jack.waitForPort(QStringLiteral("soaktx:out"), 30s) || !jack.waitForPort(QStringLiteral("soakrx:in"), 30s)) {
            std::fprintf(stderr, "bench_soak: gt3sim did not come up; ports: %s\n", qPrintable(jack.ports().join(u' ')));
            return std::nullopt;
        }
        const int xrunsBefore = xruns.xruns();

        window.cmdReceive_Click();
        // Until the whole dump is in, or nothing has come for two seconds.
        std::size_t seen = 0;
        QElapsedTimer quiet;
        quiet.start();
        runEventsUntil([&] {
            if (MAIN.sSysexData.size() != seen) {
                seen = MAIN.sSysexData.size();
                quiet.restart();
            }
            return seen >= dump.size() || quiet.elapsed() > 2000;
        }, 60s);
        finishGt3sim(*tx, 30s);
        runEventsUntil([] { return false; }, 20ms);
        a.receive = bytesLost(MAIN.sSysexData, dump);
        if (a.receive)
            std::printf("       receive: %s\n", firstDifference(MAIN.sSysexData, dump).c_str());

        const ByteString held = MAIN.sSysexData;
        fake.dialog.willChoose(savedPath);
        window.cmdSave_Click();
        a.save = bytesLost(readBytes(savedPath).toStdString(), held);

        fake.dialog.willChoose(savedPath);
        window.cmdOpen_Click();
        a.open = bytesLost(MAIN.sSysexData, held);

        // The user sets the GT-3 to receive before clicking Send; the output's new
        // connection is in JACK's graph by then.
        runEventsUntil([] { return false; }, 100ms);
        const ByteString sending = MAIN.sSysexData;
        window.cmdSend_Click();
        finishGt3sim(*rx, 30s);
        a.send = bytesLost(readBytes(recordedPath).toStdString(), sending);
        if (a.send)
            std::printf("       send: %s\n", firstDifference(readBytes(recordedPath).toStdString(), sending).c_str());
        a.xruns = xruns.xruns() - xrunsBefore;
        a.seconds = clock.elapsed() / 1000.0;
        if (!fake.boxes.boxes.empty()) {
            std::printf("       a message box: %s\n", qPrintable(fake.boxes.boxes.front().prompt));
            fake.boxes.boxes.clear();
            a.send += 1;  // a transfer that complains is not a clean one
        }
        return a;
    };

    // A cycle that loses bytes while the JACK server had xruns (a client was late,
    // and JACK drops MIDI that a late client misses) is run again, up to twice;
    // bytes lost without an xrun are the program's, and fail the soak at once.
    constexpr int kTries = 3;
    std::printf("cycle  seconds  tries  xruns  lost_in_transit  rss_kib\n");
    std::size_t moved = 0, lostInTransit = 0, lostByProgram = 0, unrecovered = 0;
    int retried = 0;
    long rssAfterWarmup = -1, rssPeak = 0;
    QElapsedTimer all;
    all.start();
    for (long cycle = 1; cycle <= cycles; ++cycle) {
        int tries = 0, cycleXruns = 0;
        std::size_t cycleTransit = 0;
        double seconds = 0;
        bool clean = false;
        while (!clean && tries < kTries) {
            const std::optional<Attempt> a = attempt();
            if (!a)
                return 1;
            ++tries;
            seconds += a->seconds;
            cycleXruns += a->xruns;
            clean = a->lost() == 0;
            if (!clean && a->xruns == 0) {
                lostByProgram += a->lost();
                break;
            }
            if (!clean)
                cycleTransit += a->lost();
        }
        if (!clean)
            unrecovered += 1;
        retried += tries > 1;
        lostInTransit += cycleTransit;
        moved += 4 * dump.size();

        runEventsUntil([] { return false; }, 20ms);
        const long rss = tandrel::bench::RssKiB();
        if (cycle == warmup)
            rssAfterWarmup = rss;
        if (cycle > warmup)
            rssPeak = std::max(rssPeak, rss);
        if (cycle <= 3 || cycle % 20 == 0 || tries > 1 || !clean || cycle == cycles)
            std::printf("%5ld  %7.2f  %5d  %5d  %15zu  %7ld\n", cycle, seconds, tries, cycleXruns, cycleTransit, rss);
        std::fflush(stdout);
        if (lostByProgram > 0) {
            std::printf("bytes lost with no xrun in cycle %ld: the program lost them\n", cycle);
            break;
        }
    }
    const long rssEnd = tandrel::bench::RssKiB();
    const long growth = rssPeak - rssAfterWarmup;
    std::printf("\ncycles=%ld seconds=%.1f bytes_moved=%zu bytes_lost_by_program=%zu cycles_not_recovered=%zu\n",
                cycles, all.elapsed() / 1000.0, moved, lostByProgram, unrecovered);
    std::printf("jack_xruns=%d cycles_retried_after_xruns=%d bytes_lost_in_transit_during_xruns=%zu\n", xruns.xruns(),
                retried, lostInTransit);
    std::printf("rss_after_warmup_kib=%ld (cycle %ld) rss_peak_after_warmup_kib=%ld rss_end_kib=%ld growth_kib=%ld "
                "bound_kib=%ld\n",
                rssAfterWarmup, warmup, rssPeak, rssEnd, growth, bound);
    const bool ok = lostByProgram == 0 && unrecovered == 0 && growth <= bound;
    std::printf("%s\n", ok ? "PASS" : "FAIL");
    return ok ? 0 : 1;
}
