// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/AlsaSeqReader.h"

#include <alsa/asoundlib.h>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

namespace tandrel {

int AlsaSeqReader::inputPool()
{
    if (const char* text = std::getenv("TANDREL_ALSA_INPUT_POOL")) {
        const int pool = std::atoi(text);
        if (pool >= 1) return pool;
    }
    return 2000;
}

bool AlsaSeqReader::addressOf(const std::string& portName, int* client, int* port)
{
    const std::size_t space = portName.rfind(' ');
    const std::string tail = portName.substr(space == std::string::npos ? 0 : space + 1);
    char end = 0;
    return std::sscanf(tail.c_str(), "%d:%d%c", client, port, &end) == 2 && *client >= 0 && *port >= 0;
}

AlsaSeqReader::AlsaSeqReader(Bytes bytes, Lost lost) : bytes_(std::move(bytes)), lost_(std::move(lost)) {}

AlsaSeqReader::~AlsaSeqReader()
{
    close();
}

bool AlsaSeqReader::open(const char* clientName, int client, int port, std::string* error)
{
    close();
    const auto fail = [&](const char* what, int err) {
        *error = std::string(what) + ": " + snd_strerror(err);
        close();
        return false;
    };
    int err = snd_seq_open(&seq_, "default", SND_SEQ_OPEN_INPUT, SND_SEQ_NONBLOCK);
    if (err < 0) {
        seq_ = nullptr;
        return fail("the ALSA sequencer could not be opened", err);
    }
    snd_seq_set_client_name(seq_, clientName);
    // The kernel drops what does not fit in the pool while this thread is not running.
    if ((err = snd_seq_set_client_pool_input(seq_, static_cast<std::size_t>(inputPool()))) < 0)
        return fail("the sequencer refused the input pool", err);
    snd_seq_set_input_buffer_size(seq_, 64 * 1024);  // fewer reads for a long dump
    const int own = snd_seq_create_simple_port(seq_, "in", SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE,
                                               SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    if (own < 0) return fail("no sequencer port could be made", own);
    if (client >= 0 && (err = snd_seq_connect_from(seq_, own, client, port)) < 0)
        return fail("the sequencer did not connect the port", err);
    if ((err = snd_midi_event_new(256, &decoder_)) < 0) return fail("no MIDI event decoder", err);
    snd_midi_event_no_status(decoder_, 1);  // every message with its status byte
    if (pipe2(stopPipe_, O_CLOEXEC | O_NONBLOCK) != 0) return fail("no pipe to stop the reader", -errno);
    snd_seq_client_info_t* info = nullptr;
    snd_seq_client_info_alloca(&info);
    if (snd_seq_get_client_info(seq_, info) == 0) lostSoFar_ = static_cast<std::size_t>(snd_seq_client_info_get_event_lost(info));
    thread_ = std::thread([this] { run(); });
    // The pool fills in a fraction of a second of a full-speed dump: where the system
    // allows it, the reader runs before the window's own work. It only copies.
    sched_param realtime{};
    realtime.sched_priority = std::min(sched_get_priority_max(SCHED_FIFO), 40);
    pthread_setschedparam(thread_.native_handle(), SCHED_FIFO, &realtime);
    return true;
}

void AlsaSeqReader::close()
{
    if (thread_.joinable()) {
        const char stop = 1;
        [[maybe_unused]] const ssize_t written = ::write(stopPipe_[1], &stop, 1);
        thread_.join();
    }
    for (int& fd : stopPipe_) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    if (decoder_) snd_midi_event_free(decoder_);
    decoder_ = nullptr;
    if (seq_) snd_seq_close(seq_);  // closing the client ends its subscription
    seq_ = nullptr;
}

void AlsaSeqReader::run()
{
    const int count = snd_seq_poll_descriptors_count(seq_, POLLIN);
    std::vector<pollfd> fds(static_cast<std::size_t>(count) + 1);
    snd_seq_poll_descriptors(seq_, fds.data(), static_cast<unsigned>(count), POLLIN);
    fds.back() = {stopPipe_[0], POLLIN, 0};
    for (;;) {
        if (poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) return;
        if (fds.back().revents != 0) return;
        bool lostSome = false;
        readWaiting(&lostSome);
        if (lostSome) lost_(lostSinceLastAsked());
    }
}

// Drains every waiting event; a full pool shows as -ENOSPC, after which the kernel
// has dropped what the pool held and carries on with what comes next.
void AlsaSeqReader::readWaiting(bool* lostSome)
{
    for (;;) {
        snd_seq_event_t* event = nullptr;
        const int result = snd_seq_event_input(seq_, &event);
        if (result == -EAGAIN) return;
        if (result == -ENOSPC) {
            *lostSome = true;
            continue;
        }
        if (result < 0 || !event) {  // an event that could not be read
            *lostSome = true;
            return;
        }
        if (event->type == SND_SEQ_EVENT_SYSEX) {
            bytes_(static_cast<const unsigned char*>(event->data.ext.ptr), event->data.ext.len);
            continue;
        }
        unsigned char message[16];
        const long size = snd_midi_event_decode(decoder_, message, sizeof message, event);
        if (size > 0) bytes_(message, static_cast<std::size_t>(size));  // others are the sequencer's notices
    }
}

std::size_t AlsaSeqReader::lostSinceLastAsked()
{
    // The kernel counts what it dropped for us; where it does not, one is all we know.
    snd_seq_client_info_t* info = nullptr;
    snd_seq_client_info_alloca(&info);
    std::size_t total = lostSoFar_;
    if (snd_seq_get_client_info(seq_, info) == 0) total = static_cast<std::size_t>(snd_seq_client_info_get_event_lost(info));
    const std::size_t lost = total > lostSoFar_ ? total - lostSoFar_ : 1;
    lostSoFar_ = std::max(total, lostSoFar_);
    return lost;
}

}  // namespace tandrel
