// SPDX-License-Identifier: GPL-3.0-or-later
// alsa_seq_tap: records what the ALSA sequencer delivers from one port through a plain
// alsa-lib client of its own, to judge Tandrel's receive against. With --listen instead
// of --from it is a destination: a client of that name with a port "in" that a sender
// connects to, on which the kernel stamps every event with the time it arrived (a
// real-time queue of its own), so a sender's pacing can be read without this program's
// own lateness in it.
//
//   alsa_seq_tap (--from NAME | --listen CLIENT) --bytes N --tap FILE [--events FILE] [--idle-ms MS]
//   alsa_seq_tap --clock-check N      how far those stamps stray (see clockCheck)
//
// Prints "ready=1" once subscribed, then, when N bytes have come or nothing came for MS
// milliseconds, key=value lines: tap_bytes, tap_lost, tap_other (events that were not
// SysEx). --events writes one line per event: the offset of its first byte, its length
// and its type, and with --listen the kernel's arrival time in ns.
#include <alsa/asoundlib.h>

#include <poll.h>
#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
    std::string from, listen, tap, events;
    std::size_t bytes = 0;
    int idleMs = 3000;
};

bool parse(int argc, char** argv, Options* o)
{
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i], value = argv[i + 1];
        if (key == "--from") o->from = value;
        else if (key == "--listen") o->listen = value;
        else if (key == "--bytes") o->bytes = std::stoul(value);
        else if (key == "--tap") o->tap = value;
        else if (key == "--events") o->events = value;
        else if (key == "--idle-ms") o->idleMs = std::stoi(value);
        else return false;
    }
    return o->from.empty() != o->listen.empty() && !o->tap.empty() && o->bytes > 0;
}

//! The address of the first port whose name contains `name`.
bool findPort(snd_seq_t* seq, const std::string& name, int* client, int* port)
{
    snd_seq_client_info_t* c = nullptr;
    snd_seq_port_info_t* p = nullptr;
    snd_seq_client_info_alloca(&c);
    snd_seq_port_info_alloca(&p);
    snd_seq_client_info_set_client(c, -1);
    while (snd_seq_query_next_client(seq, c) >= 0) {
        snd_seq_port_info_set_client(p, snd_seq_client_info_get_client(c));
        snd_seq_port_info_set_port(p, -1);
        while (snd_seq_query_next_port(seq, p) >= 0) {
            if (std::strstr(snd_seq_port_info_get_name(p), name.c_str())) {
                *client = snd_seq_port_info_get_client(p);
                *port = snd_seq_port_info_get_port(p);
                return true;
            }
        }
    }
    return false;
}

//! Creates `seq`'s port "in" that others send to; `stamped`: on a real-time queue of its
//! own, on which the kernel stamps each event with its arrival. The port, or −1.
int createInPort(snd_seq_t* seq, bool stamped)
{
    snd_seq_port_info_t* info = nullptr;
    snd_seq_port_info_alloca(&info);
    snd_seq_port_info_set_name(info, "in");
    snd_seq_port_info_set_capability(info, SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE);
    snd_seq_port_info_set_type(info, SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    if (stamped) {
        // Starting the queue is an event this client sends: the client is duplex.
        const int queue = snd_seq_alloc_queue(seq);
        if (queue < 0 || snd_seq_start_queue(seq, queue, nullptr) < 0 || snd_seq_drain_output(seq) < 0) return -1;
        snd_seq_port_info_set_timestamping(info, 1);
        snd_seq_port_info_set_timestamp_real(info, 1);
        snd_seq_port_info_set_timestamp_queue(info, queue);
    }
    return snd_seq_create_port(seq, info) < 0 ? -1 : snd_seq_port_info_get_port(info);
}

//! The plain reader: the largest pool, a large buffer, the same priority as Tandrel's
//! reader, and nothing but a copy of each event's bytes.
struct Tap {
    snd_seq_t* seq = nullptr;
    snd_midi_event_t* decoder = nullptr;
    std::mutex lock;
    std::vector<unsigned char> bytes;
    std::string events;
    std::size_t lost = 0, other = 0;
    bool logEvents = false, stamped = false;

    //! Subscribes to `client`:`port`, or with `client` −1 waits as `name` for a sender,
    //! stamping what arrives.
    bool open(const char* name, int client, int port)
    {
        if (snd_seq_open(&seq, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK) < 0) return false;
        snd_seq_set_client_name(seq, name);
        snd_seq_set_client_pool_input(seq, 2000);
        snd_seq_set_input_buffer_size(seq, 256 * 1024);
        stamped = client < 0;
        const int in = createInPort(seq, stamped);
        if (in < 0 || snd_midi_event_new(256, &decoder) < 0) return false;
        return stamped || snd_seq_connect_from(seq, in, client, port) >= 0;
    }

    void run(const std::atomic<bool>& stop)
    {
        snd_midi_event_no_status(decoder, 1);
        const int count = snd_seq_poll_descriptors_count(seq, POLLIN);
        std::vector<pollfd> fds(static_cast<std::size_t>(count));
        snd_seq_poll_descriptors(seq, fds.data(), static_cast<unsigned>(count), POLLIN);
        while (!stop) {
            poll(fds.data(), fds.size(), 50);
            for (;;) {
                snd_seq_event_t* event = nullptr;
                const int result = snd_seq_event_input(seq, &event);
                if (result == -EAGAIN) break;
                std::lock_guard<std::mutex> hold(lock);
                if (result == -ENOSPC) {
                    ++lost;
                    if (logEvents) events += std::to_string(bytes.size()) + " lost\n";
                    continue;
                }
                if (result < 0 || !event) break;
                const std::size_t at = bytes.size();
                if (event->type == SND_SEQ_EVENT_SYSEX) {
                    const auto* data = static_cast<const unsigned char*>(event->data.ext.ptr);
                    bytes.insert(bytes.end(), data, data + event->data.ext.len);
                } else {
                    unsigned char message[16];
                    const long size = snd_midi_event_decode(decoder, message, sizeof message, event);
                    if (size > 0) bytes.insert(bytes.end(), message, message + size);
                    ++other;
                }
                if (logEvents) {
                    events += std::to_string(at) + ' ' + std::to_string(bytes.size() - at) + ' ' + std::to_string(event->type);
                    if (stamped)
                        events += ' ' + std::to_string(event->time.time.tv_sec * 1000000000LL + event->time.time.tv_nsec);
                    events += '\n';
                }
            }
        }
    }

    std::size_t size()
    {
        std::lock_guard<std::mutex> hold(lock);
        return bytes.size();
    }
};

bool write(const std::string& path, const void* data, std::size_t size)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

//! How far the kernel's stamps stray from the real time between two events: sends
//! `count` small SysEx events 20 ms apart from a client of its own to a port that
//! stamps them like --listen, notes the monotonic clock around each write, and
//! prints by how much each stamped gap differs from the one measured around the
//! writes (min, median, max, in µs), the longest write, and how late the 20 ms
//! sleeps woke (median, mean, max): a known sleep, in the same conditions.
int clockCheck(int count)
{
    snd_seq_t* in = nullptr;
    snd_seq_t* out = nullptr;
    if (snd_seq_open(&in, "default", SND_SEQ_OPEN_DUPLEX, 0) < 0 || snd_seq_open(&out, "default", SND_SEQ_OPEN_OUTPUT, 0) < 0)
        return 1;
    snd_seq_set_client_name(in, "clock");
    const int inPort = createInPort(in, true);
    if (inPort < 0) return 1;
    const int from = snd_seq_create_simple_port(out, "out", SND_SEQ_PORT_CAP_READ, SND_SEQ_PORT_TYPE_APPLICATION);
    std::vector<double> stamped, measured;
    long long longestWriteUs = 0;
    std::vector<double> late;
    unsigned char sysex[] = {0xF0, 0x7D, 0x00, 0xF7};
    const Clock::time_point start = Clock::now() + std::chrono::milliseconds(100);
    for (int i = 0; i < count; ++i) {
        std::this_thread::sleep_until(start + std::chrono::milliseconds(20) * i);
        snd_seq_event_t event;
        snd_seq_ev_clear(&event);
        snd_seq_ev_set_source(&event, from);
        snd_seq_ev_set_dest(&event, snd_seq_client_id(in), inPort);
        snd_seq_ev_set_direct(&event);
        snd_seq_ev_set_sysex(&event, sizeof sysex, sysex);
        const Clock::time_point before = Clock::now();
        late.push_back(std::chrono::duration<double, std::micro>(before - (start + std::chrono::milliseconds(20) * i)).count());
        if (snd_seq_event_output_direct(out, &event) < 0) return 1;
        const Clock::time_point after = Clock::now();
        snd_seq_event_t* got = nullptr;
        if (snd_seq_event_input(in, &got) < 0 || !got) return 1;
        longestWriteUs = std::max<long long>(longestWriteUs, std::chrono::duration_cast<std::chrono::microseconds>(after - before).count());
        stamped.push_back(got->time.time.tv_sec * 1e6 + got->time.time.tv_nsec / 1e3);
        measured.push_back(std::chrono::duration<double, std::micro>((before - start) + (after - before) / 2).count());
    }
    std::vector<double> errors;
    for (std::size_t i = 1; i < stamped.size(); ++i)
        errors.push_back((stamped[i] - stamped[i - 1]) - (measured[i] - measured[i - 1]));
    std::sort(errors.begin(), errors.end());
    std::printf("clock_gap_error_us min=%.0f median=%.0f max=%.0f longest_write_us=%lld gaps=%zu\n", errors.front(),
                errors[errors.size() / 2], errors.back(), longestWriteUs, errors.size());
    std::sort(late.begin(), late.end());
    double sum = 0;
    for (const double l : late) sum += l;
    std::printf("sleep_20ms_late_us median=%.0f mean=%.0f max=%.0f\n", late[late.size() / 2], sum / static_cast<double>(late.size()), late.back());
    snd_seq_close(out);
    snd_seq_close(in);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::string(argv[1]) == "--clock-check") return clockCheck(std::stoi(argv[2]));
    Options o;
    if (!parse(argc, argv, &o)) {
        std::fprintf(stderr, "usage: alsa_seq_tap (--from NAME | --listen CLIENT) --bytes N --tap FILE [--events FILE] [--idle-ms MS]\n");
        return 2;
    }
    Tap tap;
    int client = -1, port = -1;
    for (int tries = 0; !o.from.empty() && (tap.seq == nullptr || !findPort(tap.seq, o.from, &client, &port)); ++tries) {
        if (!tap.seq && snd_seq_open(&tap.seq, "default", SND_SEQ_OPEN_INPUT, SND_SEQ_NONBLOCK) < 0) tap.seq = nullptr;
        if (tries == 100) {
            std::fprintf(stderr, "alsa_seq_tap: no port named %s\n", o.from.c_str());
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (tap.seq) snd_seq_close(tap.seq);
    tap.seq = nullptr;
    if (!tap.open(o.listen.empty() ? "tap" : o.listen.c_str(), client, port)) {
        std::fprintf(stderr, "alsa_seq_tap: the tap could not open its port (or subscribe to %d:%d)\n", client, port);
        return 1;
    }

    tap.logEvents = !o.events.empty();
    std::atomic<bool> stop{false};
    std::thread thread([&] { tap.run(stop); });
    sched_param realtime{};
    realtime.sched_priority = std::min(sched_get_priority_max(SCHED_FIFO), 40);
    pthread_setschedparam(thread.native_handle(), SCHED_FIFO, &realtime);
    std::printf("ready=1\n");
    std::fflush(stdout);

    std::size_t last = 0;
    Clock::time_point moved = Clock::now();
    for (;;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const std::size_t got = tap.size();
        if (got >= o.bytes) break;
        if (got != last) last = got, moved = Clock::now();
        if (Clock::now() - moved > std::chrono::milliseconds(o.idleMs)) break;
    }
    stop = true;
    thread.join();

    std::lock_guard<std::mutex> hold(tap.lock);
    bool ok = write(o.tap, tap.bytes.data(), tap.bytes.size());
    if (!o.events.empty()) ok = write(o.events, tap.events.data(), tap.events.size()) && ok;
    std::printf("tap_bytes=%zu\ntap_lost=%zu\ntap_other=%zu\n", tap.bytes.size(), tap.lost, tap.other);
    snd_midi_event_free(tap.decoder);
    snd_seq_close(tap.seq);
    return ok ? 0 : 1;
}
