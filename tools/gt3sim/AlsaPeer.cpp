// SPDX-License-Identifier: GPL-3.0-or-later
#include "AlsaPeer.h"

#include <thread>

namespace gt3sim {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

std::int64_t nowUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch()).count();
}

}  // namespace

std::unique_ptr<AlsaPeer> AlsaPeer::open(const std::string& name, bool output, std::string* error)
{
    auto peer = std::unique_ptr<AlsaPeer>(new AlsaPeer);
    peer->name_ = name;
    try {
        if (output) {
            peer->out_ = std::make_unique<RtMidiOut>(RtMidi::LINUX_ALSA, name);
        } else {
            peer->in_ = std::make_unique<RtMidiIn>(RtMidi::LINUX_ALSA, name);
            AlsaPeer* self = peer.get();
            peer->reader_ = std::make_unique<tandrel::AlsaSeqReader>(
                [self](const unsigned char* bytes, std::size_t size) { self->received(bytes, size); },
                [self](std::size_t events) { self->lost_ += events; });
        }
    } catch (const RtMidiError& e) {
        *error = "the ALSA sequencer could not be opened: " + e.getMessage();
        return nullptr;
    }
    return peer;
}

bool AlsaPeer::connect(const std::string& port, std::chrono::milliseconds wait, std::string* error)
{
    RtMidi& midi = out_ ? static_cast<RtMidi&>(*out_) : static_cast<RtMidi&>(*in_);
    const Clock::time_point giveUp = Clock::now() + wait;
    for (;;) {
        const unsigned int count = midi.getPortCount();
        for (unsigned int i = 0; i < count; ++i) {
            const std::string name = midi.getPortName(i);
            if (name.find(port) == std::string::npos) continue;
            if (reader_) {
                int client = 0, number = 0;
                if (!tandrel::AlsaSeqReader::addressOf(name, &client, &number)) {
                    *error = "no sequencer address in " + name;
                    return false;
                }
                if (!reader_->open(name_.c_str(), client, number, error)) return false;
                portOpen_ = true;
                return true;
            }
            try {
                midi.openPort(i, "out");
            } catch (const RtMidiError& e) {
                *error = e.getMessage();
                return false;
            }
            portOpen_ = true;
            return true;
        }
        if (Clock::now() > giveUp) {
            *error = "no ALSA port named like " + port;
            return false;
        }
        std::this_thread::sleep_for(20ms);
    }
}

bool AlsaPeer::waitForListener(std::chrono::milliseconds wait, std::string* error)
{
    // The sequencer does not say who subscribes: offer the port and give the other
    // side the time allowed to connect.
    if (!portOpen_) {
        if (out_) out_->openVirtualPort("out");
        else if (!reader_->open(name_.c_str(), -1, -1, error)) return false;
        portOpen_ = true;
        std::this_thread::sleep_for(std::min<std::chrono::milliseconds>(wait, 1s));
    }
    return true;
}

bool AlsaPeer::transmit(const TransmitPlan& plan, const Options& options, std::string* error)
{
    const Clock::time_point start = Clock::now();
    std::size_t sinceNap = 0;
    for (const TransmitPlan::Event& e : plan.events()) {
        if (options.din) {
            std::this_thread::sleep_until(start + std::chrono::microseconds(e.startUs));
        } else if (sinceNap + e.bytes.size() > options.cycleBytes) {
            std::this_thread::sleep_for(5ms);  // the sequencer's pool drains meanwhile
            sinceNap = 0;
        }
        try {
            out_->sendMessage(e.bytes.data(), e.bytes.size());
        } catch (const RtMidiError& failure) {
            *error = failure.getMessage();
            return false;
        }
        sinceNap += e.bytes.size();
    }
    return true;
}

// On the reader's thread.
void AlsaPeer::received(const unsigned char* bytes, std::size_t size)
{
    const std::int64_t now = nowUs();
    std::lock_guard lock(mutex_);
    arrivals_.push_back({std::vector<unsigned char>(bytes, bytes + size), now});
}

bool AlsaPeer::drainInto(StreamCheck& check)
{
    std::vector<Arrival> taken;
    {
        std::lock_guard lock(mutex_);
        taken.swap(arrivals_);
    }
    for (const Arrival& a : taken) check.feed(a.bytes.data(), a.bytes.size(), a.stampUs);
    return true;
}

}  // namespace gt3sim
