// SPDX-License-Identifier: GPL-3.0-or-later
// The bare RtMidi baselines: the least a program can do to move the same stream
// over the same library, with no Qt, no window and no event loop.
//
//   bench_rtmidi receive --source NAME --bytes N [--file F] [--idle-ms MS] [--api jack|alsa] [--both]
//       a callback receiver that appends every message to one buffer
//   bench_rtmidi send --dest NAME --file F [--window BYTES] [--period-us US] [--pacing din] [--api jack|alsa]
//                     [--both --other-source NAME]
//       cuts the file after every F7 and sends the messages (in pieces of at most
//       4096 bytes), paced like the port's fast pacing on JACK, or with `din` like
//       a MIDI cable: 320 µs a byte and 20 ms after every message, asleep between
//   bench_rtmidi device --name NAME
//       an idle device (one input, one output) until stdin closes
//
// With --both the program also holds the other direction open and idle, as Tandrel
// does during a transfer: the receiver an output on a virtual port of its own (as
// Tandrel's in the receive bench), the sender an input with a callback, connected
// to NAME. On JACK each is a client of its own, woken at every cycle like the one
// that works.
//
// Results are key=value lines on stdout.
#include "BenchDump.h"
#include "ProcessStats.h"
#include "WindowPacing.h"

#include <rtmidi/RtMidi.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

using tandrel::bench::MonotonicNs;
using tandrel::bench::Report;

namespace {

std::string option(int argc, char** argv, const char* name, const std::string& fallback = {})
{
    for (int i = 2; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], name) == 0)
            return argv[i + 1];
    return fallback;
}

bool flag(int argc, char** argv, const char* name)
{
    for (int i = 2; i < argc; ++i)
        if (std::strcmp(argv[i], name) == 0)
            return true;
    return false;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

template <typename Port>
int findPort(Port& port, const std::string& part)
{
    for (unsigned i = 0; i < port.getPortCount(); ++i)
        if (port.getPortName(i).find(part) != std::string::npos)
            return static_cast<int>(i);
    return -1;
}

struct Received {
    std::string bytes;
    std::size_t expected = 0;
    std::atomic<std::int64_t> firstNs{0};
    std::atomic<std::int64_t> lastNs{0};
    std::atomic<std::size_t> size{0};
    std::mutex mutex;
    std::condition_variable done;
};

// Runs on RtMidi's thread: the bare minimum is to keep the bytes.
void onMessage(double, std::vector<unsigned char>* message, void* user)
{
    auto& r = *static_cast<Received*>(user);
    const std::int64_t now = MonotonicNs();
    r.bytes.append(message->begin(), message->end());
    if (r.firstNs == 0)
        r.firstNs = now;
    r.lastNs = now;
    r.size = r.bytes.size();
    if (r.bytes.size() >= r.expected) {
        const std::lock_guard lock(r.mutex);
        r.done.notify_all();
    }
}

// The idle direction's callback: nothing arrives on it.
void ignoreMessage(double, std::vector<unsigned char>*, void*) {}

int receive(int argc, char** argv)
{
    Received r;
    r.expected = std::stoul(option(argc, argv, "--bytes", "0"));
    r.bytes.reserve(r.expected);
    const std::string file = readFile(option(argc, argv, "--file"));
    const auto idle = std::chrono::milliseconds(std::stol(option(argc, argv, "--idle-ms", "3000")));

    const RtMidi::Api api = option(argc, argv, "--api", "jack") == "alsa" ? RtMidi::LINUX_ALSA : RtMidi::UNIX_JACK;
    RtMidiIn in(api, "bench_rtmidi_in");
    in.ignoreTypes(false, true, true);
    const int port = findPort(in, option(argc, argv, "--source"));
    if (port < 0) {
        std::fprintf(stderr, "no source port found\n");
        return 1;
    }
    in.setCallback(&onMessage, &r);
    in.openPort(static_cast<unsigned>(port), "in");
    std::unique_ptr<RtMidiOut> idleOut;
    if (flag(argc, argv, "--both")) {
        idleOut = std::make_unique<RtMidiOut>(api, "bench_rtmidi_out");
        idleOut->openVirtualPort("out");
    }
    const std::int64_t cpuAtReady = tandrel::bench::CpuMicros();
    const std::int64_t readyNs = MonotonicNs();
    Report("ready", 1);

    std::size_t seen = 0;
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    std::unique_lock lock(r.mutex);
    while (r.size < r.expected && std::chrono::steady_clock::now() < giveUp) {
        // Gives up once the stream has stalled after its start.
        if (!r.done.wait_for(lock, idle, [&] { return r.size >= r.expected; }) && r.size == seen && seen > 0)
            break;
        seen = r.size;
    }
    lock.unlock();
    in.closePort();
    const std::int64_t cpuUs = tandrel::bench::CpuMicros() - cpuAtReady;
    const std::int64_t cpuWallUs = (MonotonicNs() - readyNs) / 1000;
    const std::size_t held = r.size;
    Report("first_ns", r.firstNs);
    Report("last_ns", r.lastNs);
    Report("bytes", static_cast<std::int64_t>(held));
    Report("lost", static_cast<std::int64_t>(r.expected > held ? r.expected - held : 0));
    Report("exact", file.empty() || r.bytes == file);
    Report("first_difference", static_cast<std::int64_t>(tandrel::bench::FirstDifference(r.bytes, file)));
    Report("cpu_us", cpuUs);
    Report("cpu_wall_us", cpuWallUs);
    return 0;
}

int send(int argc, char** argv)
{
    const std::string dump = readFile(option(argc, argv, "--file"));
    const auto window = std::stoul(option(argc, argv, "--window", "8192"));
    const auto periodNs = std::stol(option(argc, argv, "--period-us", "5333")) * 1000;
    constexpr std::size_t kMaxPiece = 4096;

    const RtMidi::Api api = option(argc, argv, "--api", "jack") == "alsa" ? RtMidi::LINUX_ALSA : RtMidi::UNIX_JACK;
    RtMidiOut out(api, "bench_rtmidi_out");
    const int port = findPort(out, option(argc, argv, "--dest"));
    if (port < 0) {
        std::fprintf(stderr, "no destination port found\n");
        return 1;
    }
    out.openPort(static_cast<unsigned>(port), "out");
    std::unique_ptr<RtMidiIn> idleIn;
    if (flag(argc, argv, "--both")) {
        idleIn = std::make_unique<RtMidiIn>(api, "bench_rtmidi_in");
        idleIn->ignoreTypes(false, true, true);
        const int other = findPort(*idleIn, option(argc, argv, "--other-source"));
        if (other < 0) {
            std::fprintf(stderr, "no port found for the idle input\n");
            return 1;
        }
        idleIn->setCallback(&ignoreMessage, nullptr);
        idleIn->openPort(static_cast<unsigned>(other), "in");
    }
    tandrel::bench::WindowPacing pacing(window, periodNs);
    const bool din = option(argc, argv, "--pacing") == "din";
    auto wireFree = std::chrono::steady_clock::now();
    const std::int64_t cpuBefore = tandrel::bench::CpuMicros();
    const std::int64_t startNs = MonotonicNs();
    const auto* bytes = reinterpret_cast<const unsigned char*>(dump.data());
    std::int64_t firstNs = 0, lastNs = 0, messages = 0;
    std::size_t at = 0;
    for (const std::size_t length : tandrel::bench::MessageLengths(dump)) {
        for (std::size_t piece = 0; piece < length; piece += kMaxPiece) {
            const std::size_t size = std::min(kMaxPiece, length - piece);
            if (din)
                std::this_thread::sleep_until(wireFree);
            else
                pacing.waitToSend(size);
            if (firstNs == 0)
                firstNs = MonotonicNs();
            out.sendMessage(bytes + at + piece, size);
            wireFree = std::chrono::steady_clock::now() + std::chrono::microseconds(320) * size;
        }
        wireFree += std::chrono::milliseconds(20);
        lastNs = MonotonicNs();
        at += length;
        ++messages;
    }
    Report("first_ns", firstNs);
    Report("last_tx_end_ns", lastNs);
    Report("messages", messages);
    Report("bytes", static_cast<std::int64_t>(at));
    Report("cpu_us", tandrel::bench::CpuMicros() - cpuBefore);
    Report("cpu_wall_us", (MonotonicNs() - startNs) / 1000);
    // Lets the last period leave before the port goes away.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return 0;
}

int device(int argc, char** argv)
{
    const std::string name = option(argc, argv, "--name", "bench_device");
    RtMidiIn in(RtMidi::UNIX_JACK, name);
    RtMidiOut out(RtMidi::UNIX_JACK, name);
    in.openVirtualPort("in");
    out.openVirtualPort("out");
    Report("ready", 1);
    char c;
    while (read(STDIN_FILENO, &c, 1) > 0) {
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    try {
        if (mode == "receive")
            return receive(argc, argv);
        if (mode == "send")
            return send(argc, argv);
        if (mode == "device")
            return device(argc, argv);
    } catch (const RtMidiError& e) {
        std::fprintf(stderr, "RtMidi: %s\n", e.what());
        return 1;
    }
    std::fprintf(stderr, "usage: %s receive|send|device ...\n", argv[0]);
    return 2;
}
