// SPDX-License-Identifier: GPL-3.0-or-later
// gt3sim: plays a BOSS GT-3 on a MIDI connection, for tests and benchmarks.
//
//   gt3sim generate OUT [--size BYTES] [--block DATA_BYTES] [--device ID] [--seed N]
//   gt3sim transmit FILE [--pacing din|fast] [--pause-ms MS] [--piece BYTES] [--cycle-bytes BYTES]
//                        [--api jack|alsa] [--name CLIENT] [--connect PORT] [--wait-ms MS] [--delay-ms MS]
//                        [--inactive 1]
//   gt3sim receive OUT [--expect-messages N] [--expect-bytes N] [--min-pause-ms MS] [--idle-ms MS]
//                      [--timeout-ms MS] [--api jack|alsa] [--name CLIENT] [--connect PORT] [--inactive 1]
//
// transmit waits until something listens (or connects to --connect), sends the file
// as the device would, and prints "gt3sim transmit: key=value …". receive records what
// arrives into OUT until the expected messages or bytes are in, or nothing has come
// for --idle-ms, and prints "gt3sim receive: key=value …". With --inactive 1 the JACK
// port is there but its client never activates, so no connection to it can be made
// (a device that cannot be opened). The exit status is 0 on
// success, 1 on a failure (including a failed check), 2 on a usage error.
#include "AlsaPeer.h"
#include "JackPeer.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <thread>

namespace {

using namespace gt3sim;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

int usage(const char* problem)
{
    std::fprintf(stderr,
                 "gt3sim: %s\n"
                 "usage: gt3sim generate OUT [--size BYTES] [--block DATA_BYTES] [--device ID] [--seed N]\n"
                 "       gt3sim transmit FILE [--pacing din|fast] [--pause-ms MS] [--piece BYTES] [--cycle-bytes BYTES]\n"
                 "                            [--api jack|alsa] [--name CLIENT] [--connect PORT] [--wait-ms MS]\n"
                 "                            [--delay-ms MS]\n"
                 "       gt3sim receive OUT [--expect-messages N] [--expect-bytes N] [--min-pause-ms MS]\n"
                 "                          [--idle-ms MS] [--timeout-ms MS] [--api jack|alsa] [--name CLIENT]\n"
                 "                          [--connect PORT]\n",
                 problem);
    return 2;
}

bool number(const char* text, std::size_t* value)
{
    char* end = nullptr;
    const unsigned long long v = std::strtoull(text, &end, 0);
    if (!*text || *end) return false;
    *value = static_cast<std::size_t>(v);
    return true;
}

// Parses the command line into `o`; an empty result means it is fine.
std::string parse(int argc, char** argv, Options& o)
{
    if (argc < 3) return "a command and a file are needed";
    o.command = argv[1];
    o.file = argv[2];
    for (int i = 3; i < argc; i += 2) {
        const std::string key = argv[i];
        if (i + 1 >= argc) return key + " needs a value";
        const char* text = argv[i + 1];
        std::size_t n = 0;
        const bool numeric = number(text, &n);
        if (key == "--api") o.api = text;
        else if (key == "--name") o.name = text;
        else if (key == "--connect") o.connect = text;
        else if (key == "--pacing" && (std::string(text) == "din" || std::string(text) == "fast")) o.din = std::string(text) == "din";
        else if (!numeric) return "bad value for " + key + ": " + text;
        else if (key == "--size") o.size = n;
        else if (key == "--block") o.block = n;
        else if (key == "--device") o.device = static_cast<unsigned>(n);
        else if (key == "--seed") o.seed = static_cast<unsigned>(n);
        else if (key == "--pause-ms") o.pause = std::chrono::milliseconds(n);
        else if (key == "--piece" && n > 0) o.piece = n;
        else if (key == "--cycle-bytes" && n > 0) o.cycleBytes = n;
        else if (key == "--wait-ms") o.wait = std::chrono::milliseconds(n);
        else if (key == "--delay-ms") o.delay = std::chrono::milliseconds(n);
        else if (key == "--expect-messages") o.expectMessages = n;
        else if (key == "--expect-bytes") o.expectBytes = n;
        else if (key == "--min-pause-ms") o.minPause = std::chrono::milliseconds(n);
        else if (key == "--idle-ms") o.idle = std::chrono::milliseconds(n);
        else if (key == "--timeout-ms") o.timeout = std::chrono::milliseconds(n);
        else if (key == "--inactive") o.inactive = n != 0;
        else return "unknown option " + key;
    }
    return {};
}

bool readFile(const std::string& path, Bytes* bytes)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool writeFile(const std::string& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

std::unique_ptr<Peer> openPeer(const Options& o, bool output, std::string* error)
{
    std::string jackWhy, alsaWhy;
    if (o.api != "alsa")
        if (auto peer = JackPeer::open(o.name, output, &jackWhy, !o.inactive)) return peer;
    if (o.api != "jack")
        if (auto peer = AlsaPeer::open(o.name, output, &alsaWhy)) return peer;
    *error = o.api == "jack" ? jackWhy : o.api == "alsa" ? alsaWhy : jackWhy + "; " + alsaWhy;
    return nullptr;
}

int generate(const Options& o)
{
    std::string error;
    const Bytes dump = generateDump(o.size, o.block, o.device, o.seed, &error);
    if (dump.empty()) return usage(error.c_str());
    if (!writeFile(o.file, dump)) {
        std::fprintf(stderr, "gt3sim: cannot write %s\n", o.file.c_str());
        return 1;
    }
    return 0;
}

int transmit(const Options& o)
{
    Bytes stream;
    if (!readFile(o.file, &stream)) {
        std::fprintf(stderr, "gt3sim: cannot read %s\n", o.file.c_str());
        return 1;
    }
    const TransmitPlan plan(stream, o.piece, o.din, o.pause);
    std::string error;
    std::unique_ptr<Peer> peer = openPeer(o, true, &error);
    const bool ready = peer && (o.connect.empty() ? peer->waitForListener(o.wait, &error)
                                                  : peer->connect(o.connect, o.wait, &error));
    if (ready) std::this_thread::sleep_for(o.delay);
    const Clock::time_point start = Clock::now();
    if (!ready || !peer->transmit(plan, o, &error)) {
        std::fprintf(stderr, "gt3sim transmit: %s\n", error.c_str());
        return 1;
    }
    const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start);
    std::printf("gt3sim transmit: messages=%zu events=%zu bytes=%zu elapsed_us=%lld\n", plan.messages(),
                plan.events().size(), plan.bytes(), static_cast<long long>(elapsed.count()));
    return 0;
}

int receive(const Options& o)
{
    std::string error;
    std::unique_ptr<Peer> peer = openPeer(o, false, &error);
    if (peer && !o.connect.empty() && !peer->connect(o.connect, o.timeout, &error)) peer.reset();
    if (peer && o.connect.empty()) peer->waitForListener(0ms, &error);
    if (!peer) {
        std::fprintf(stderr, "gt3sim receive: %s\n", error.c_str());
        return 1;
    }
    StreamCheck check(o.minPause);
    const bool expecting = o.expectMessages > 0 || o.expectBytes > 0;
    const auto complete = [&] {
        return expecting && check.messages() >= o.expectMessages && check.bytes() >= o.expectBytes;
    };
    const Clock::time_point giveUp = Clock::now() + o.timeout;
    Clock::time_point lastArrival = Clock::now();
    bool alive = true;
    while (alive && !complete() && Clock::now() < giveUp) {
        const std::size_t before = check.bytes();
        alive = peer->drainInto(check);
        if (check.bytes() != before) lastArrival = Clock::now();
        else if (check.bytes() > 0 && Clock::now() - lastArrival > o.idle) break;
        std::this_thread::sleep_for(2ms);
    }
    check.finish();
    const bool whole = expecting ? complete() : check.bytes() > 0;
    std::printf("gt3sim receive: %s lost=%zu complete=%d\n", check.summary().c_str(), peer->lost(), whole ? 1 : 0);
    std::fflush(stdout);
    if (!writeFile(o.file, check.recorded())) {
        std::fprintf(stderr, "gt3sim receive: cannot write %s\n", o.file.c_str());
        return 1;
    }
    if (!alive) std::fprintf(stderr, "gt3sim receive: the MIDI system went away\n");
    return alive && whole && check.clean() && peer->lost() == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    Options o;
    if (const std::string problem = parse(argc, argv, o); !problem.empty()) return usage(problem.c_str());
    if (!o.api.empty() && o.api != "jack" && o.api != "alsa") return usage("--api is jack or alsa");
    if (o.command == "generate") return generate(o);
    if (o.command == "transmit") return transmit(o);
    if (o.command == "receive") return receive(o);
    return usage("the command is generate, transmit or receive");
}
