// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/MidiBackend.h"
#include "platform/MidiErrors.h"

#include <QObject>

#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class QThread;
class RtMidi;

namespace tandrel {

//! The RtMidi object a port works through, on the MIDI system the backend chose.
//! It is made when first needed and made again once that system has changed, and
//! it keeps the last error RtMidi reported, whichever thread reported it.
class RtMidiClient {
public:
    //! Makes the RtMidi object for a system; may throw RtMidiError. (A shared
    //! pointer, because only it deletes through RtMidiIn's or RtMidiOut's own
    //! destructor: RtMidi's is protected.)
    using Maker = std::function<std::shared_ptr<RtMidi>(MidiBackend::Api)>;

    //! `replaced` runs before every new RtMidi object is made: a port still open
    //! on the old one has lost it. `stopped` runs on `context`'s thread when
    //! the JACK server under the client stops; the client goes once it returns.
    RtMidiClient(Maker make, QObject* context, std::function<void()> replaced, std::function<void()> stopped);
    ~RtMidiClient();
    RtMidiClient(const RtMidiClient&) = delete;
    RtMidiClient& operator=(const RtMidiClient&) = delete;

    //! The RtMidi object on the system to use now, or null when there is none.
    RtMidi* ensure();
    //! Makes the RtMidi object, and the MIDI system's own client, ahead of need on
    //! the calling thread (not the user-interface thread `home`). ensure() waits
    //! for `ready`, the end of that work, and takes over what it made.
    void makeAhead(QThread* home);
    void waitForAhead(std::shared_future<void> ready) { ahead_ = std::move(ready); }
    RtMidi* get() const { return midi_.get(); }
    MidiBackend& backend() const { return *backend_; }
    const std::shared_ptr<JackMonitor>& jack() const { return jack_; }

    //! The devices on offer now, Tandrel's own left out.
    std::vector<MidiDevice> devices();
    //! How many devices there are now, as the ports count them.
    std::int16_t deviceCount();
    //! The device numbered `id` now, if there is one.
    std::optional<MidiDevice> device(int id);
    //! What to tell the user after ensure() found nothing, if anything: the missing
    //! MIDI system (said once between the ports), or why this client could not be made.
    std::optional<std::pair<MidiError, QString>> whyUnavailable(const QString& port);

    //! The error RtMidi reported last, cleared by reading it.
    std::string takeError();

private:
    //! Takes errors and the server's end from `midi_`, made now.
    void hookUp();

    Maker make_;
    QObject* context_;
    std::function<void()> replaced_;
    std::function<void()> stopped_;
    std::shared_ptr<MidiBackend> backend_;
    std::shared_ptr<RtMidi> midi_;
    std::shared_ptr<JackMonitor> jack_;
    MidiBackend::Api api_ = MidiBackend::Api::None;
    std::shared_future<void> ahead_;
    std::shared_ptr<RtMidi> madeAhead_;
    MidiBackend::Api aheadApi_ = MidiBackend::Api::None;
    std::mutex errorMutex_;
    std::string error_;
};

}  // namespace tandrel
