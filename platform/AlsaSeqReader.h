// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <thread>

struct _snd_seq;
struct snd_midi_event;

namespace tandrel {

//! The input port's reader on the ALSA sequencer, through alsa-lib itself: RtMidi's
//! own ALSA input keeps the sequencer's small default input pool and only prints an
//! overrun. This reader has a client of its own with a pool as large as the kernel
//! allows, a thread that only decodes the events into MIDI bytes and hands them
//! over, and it counts the events the sequencer says it dropped.
class AlsaSeqReader {
public:
    //! Both run on the reader's thread: `bytes` with the MIDI bytes of each event,
    //! `lost` with the number of events the sequencer could not keep for us.
    using Bytes = std::function<void(const unsigned char* data, std::size_t size)>;
    using Lost = std::function<void(std::size_t events)>;

    //! Events the client's input pool holds; the kernel takes up to 2000.
    //! TANDREL_ALSA_INPUT_POOL sets another size (small ones make overruns easy to try).
    static int inputPool();
    //! The sequencer address "client:port" that ends RtMidi's ALSA port names
    //! ("Virtual Raw MIDI 0-0:VirMIDI 0-0 16:0"); false when the name has none.
    static bool addressOf(const std::string& portName, int* client, int* port);

    AlsaSeqReader(Bytes bytes, Lost lost);
    ~AlsaSeqReader();
    AlsaSeqReader(const AlsaSeqReader&) = delete;
    AlsaSeqReader& operator=(const AlsaSeqReader&) = delete;

    //! Opens a client named `clientName` with a port "in", subscribes it to the port
    //! at `client:port` (with a negative `client`, leaves that to others) and starts
    //! reading; the reason in `error` when that fails.
    bool open(const char* clientName, int client, int port, std::string* error);
    //! Stops the thread and closes the client; what it read has been handed over.
    void close();
    bool isOpen() const { return seq_ != nullptr; }

private:
    void run();
    void readWaiting(bool* lostSome);
    std::size_t lostSinceLastAsked();

    Bytes bytes_;
    Lost lost_;
    _snd_seq* seq_ = nullptr;
    snd_midi_event* decoder_ = nullptr;
    int stopPipe_[2] = {-1, -1};
    std::size_t lostSoFar_ = 0;  //!< the sequencer's own count of our dropped events
    std::thread thread_;
};

}  // namespace tandrel
