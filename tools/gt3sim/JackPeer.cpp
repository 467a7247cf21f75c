// SPDX-License-Identifier: GPL-3.0-or-later
#include "JackPeer.h"

#include <jack/midiport.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <thread>
#include <vector>

namespace gt3sim {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

struct Header {
    std::int64_t stampUs;
    std::uint32_t size;
};

constexpr std::size_t RingBytes = std::size_t{8} << 20;

void quiet(const char*) {}

}  // namespace

std::unique_ptr<JackPeer> JackPeer::open(const std::string& name, bool output, std::string* error, bool activate)
{
    jack_set_error_function(quiet);
    jack_set_info_function(quiet);
    jack_status_t status{};
    jack_client_t* client = jack_client_open(name.c_str(), JackNoStartServer, &status);
    if (!client) {
        *error = "no JACK server is running";
        return nullptr;
    }
    if (name != jack_get_client_name(client))  // the name was taken: say where the port really is
        std::fprintf(stderr, "gt3sim: JACK named the client \"%s\"\n", jack_get_client_name(client));
    std::unique_ptr<JackPeer> peer(new JackPeer(client, output));
    peer->port_ = jack_port_register(client, output ? "out" : "in", JACK_DEFAULT_MIDI_TYPE,
                                     output ? JackPortIsOutput : JackPortIsInput, 0);
    if (!peer->port_) {
        *error = "JACK refused the port";
        return nullptr;
    }
    if (!output) peer->ring_ = jack_ringbuffer_create(RingBytes);
    jack_on_shutdown(client, &JackPeer::shutdown, peer.get());
    jack_set_process_callback(client, &JackPeer::process, peer.get());
    if (activate && jack_activate(client) != 0) {
        *error = "JACK did not activate the client";
        return nullptr;
    }
    return peer;
}

JackPeer::JackPeer(jack_client_t* client, bool output) : client_(client), output_(output) {}

JackPeer::~JackPeer()
{
    jack_client_close(client_);
    if (ring_) jack_ringbuffer_free(ring_);
}

int JackPeer::process(jack_nframes_t frames, void* self)
{
    auto* peer = static_cast<JackPeer*>(self);
    void* buffer = jack_port_get_buffer(peer->port_, frames);
    if (peer->output_) peer->write(buffer, frames);
    else peer->read(buffer, frames);
    peer->cycles_.fetch_add(1);
    return 0;
}

void JackPeer::shutdown(void* self)
{
    static_cast<JackPeer*>(self)->alive_ = false;
}

void JackPeer::write(void* buffer, jack_nframes_t frames)
{
    jack_midi_clear_buffer(buffer);
    if (!go_.load() || done_.load()) return;
    const jack_nframes_t now = jack_last_frame_time(client_);
    if (!baseSet_) {
        base_ = now;
        baseSet_ = true;
    }
    const auto& events = plan_->events();
    const std::int64_t cycleStart = static_cast<jack_nframes_t>(now - base_);
    const std::int64_t rate = jack_get_sample_rate(client_);
    std::size_t written = 0;
    jack_nframes_t lastOffset = 0;
    for (; next_ < events.size(); ++next_) {
        const TransmitPlan::Event& e = events[next_];
        jack_nframes_t offset = 0;
        if (din_) {
            const std::int64_t frame = (e.startUs * rate + 999999) / 1000000;
            if (frame >= cycleStart + frames) break;
            offset = frame > cycleStart ? static_cast<jack_nframes_t>(frame - cycleStart) : 0;
            offset = std::max(offset, lastOffset);
        } else if (written > 0 && written + e.bytes.size() > cycleBytes_) {
            break;
        }
        if (jack_midi_event_write(buffer, offset, e.bytes.data(), e.bytes.size()) != 0) break;  // full: next cycle
        written += e.bytes.size();
        lastOffset = offset;
    }
    if (next_ == events.size()) done_ = true;
}

void JackPeer::read(void* buffer, jack_nframes_t)
{
    // Stamped by the clock when the data is here, not by JACK's estimate of when the
    // cycle began: the estimate jumps when the server runs late.
    const auto now = static_cast<std::int64_t>(jack_get_time());
    const std::int64_t rate = jack_get_sample_rate(client_);
    const std::uint32_t count = jack_midi_get_event_count(buffer);
    for (std::uint32_t i = 0; i < count; ++i) {
        jack_midi_event_t event;
        if (jack_midi_event_get(&event, buffer, i) != 0) continue;
        const Header header{now + static_cast<std::int64_t>(event.time) * 1000000 / rate,
                            static_cast<std::uint32_t>(event.size)};
        if (jack_ringbuffer_write_space(ring_) < sizeof header + event.size) {
            lost_.fetch_add(1);
            continue;
        }
        jack_ringbuffer_write(ring_, reinterpret_cast<const char*>(&header), sizeof header);
        jack_ringbuffer_write(ring_, reinterpret_cast<const char*>(event.buffer), event.size);
    }
}

bool JackPeer::connect(const std::string& port, std::chrono::milliseconds wait, std::string* error)
{
    const std::string own = jack_port_name(port_);
    const Clock::time_point giveUp = Clock::now() + wait;
    for (;;) {
        const int result = output_ ? jack_connect(client_, own.c_str(), port.c_str())
                                   : jack_connect(client_, port.c_str(), own.c_str());
        if (result == 0 || result == EEXIST) return waitCycles(3, 2s);
        if (Clock::now() > giveUp || !alive_) {
            *error = "could not connect to " + port;
            return false;
        }
        std::this_thread::sleep_for(20ms);
    }
}

bool JackPeer::waitForListener(std::chrono::milliseconds wait, std::string* error)
{
    const Clock::time_point giveUp = Clock::now() + wait;
    while (jack_port_connected(port_) == 0) {
        if (Clock::now() > giveUp || !alive_) {
            *error = "nothing connected to " + std::string(jack_port_name(port_));
            return false;
        }
        std::this_thread::sleep_for(5ms);
    }
    return waitCycles(3, 2s);  // until the connection carries data
}

bool JackPeer::waitCycles(std::uint64_t count, std::chrono::milliseconds limit)
{
    const std::uint64_t until = cycles_.load() + count;
    const Clock::time_point giveUp = Clock::now() + limit;
    while (cycles_.load() < until && alive_ && Clock::now() < giveUp) std::this_thread::sleep_for(1ms);
    return cycles_.load() >= until;
}

bool JackPeer::transmit(const TransmitPlan& plan, const Options& options, std::string* error)
{
    // The process thread leaves the plan alone while `done_` is set or `go_` is
    // not, so a peer can transmit again: stop it, reset, then start it.
    go_ = false;
    done_ = false;
    next_ = 0;
    baseSet_ = false;
    plan_ = &plan;
    din_ = options.din;
    cycleBytes_ = options.cycleBytes;
    go_ = true;
    const std::int64_t lengthUs = plan.events().empty() ? 0 : plan.events().back().startUs;
    const Clock::time_point giveUp = Clock::now() + std::chrono::microseconds(lengthUs) + 30s;
    while (!done_ && alive_ && Clock::now() < giveUp) std::this_thread::sleep_for(1ms);
    if (!done_) {
        *error = alive_ ? "the JACK server stopped processing" : "the JACK server stopped";
        return false;
    }
    waitCycles(3, 2s);  // the last cycle's events reach the other side
    return alive_;
}

bool JackPeer::drainInto(StreamCheck& check)
{
    Header header{};
    std::vector<unsigned char> bytes;
    // The writer puts the header in before the bytes: take an event only once it is whole.
    while (jack_ringbuffer_peek(ring_, reinterpret_cast<char*>(&header), sizeof header) == sizeof header
           && jack_ringbuffer_read_space(ring_) >= sizeof header + header.size) {
        jack_ringbuffer_read_advance(ring_, sizeof header);
        bytes.resize(header.size);
        jack_ringbuffer_read(ring_, reinterpret_cast<char*>(bytes.data()), header.size);
        check.feed(bytes.data(), bytes.size(), header.stampUs);
    }
    return alive_;
}

}  // namespace gt3sim
