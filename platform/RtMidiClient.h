// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/MidiBackend.h"
#include "platform/MidiErrors.h"

#include <QObject>

#include <cstdint>
#include <future>
#include <functional>
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
    //! A new RtMidi object in place of the current one: RtMidi keeps state across
    //! closePort (a half-built System Exclusive message on JACK, the port that the
    //! ALSA sequencer was given first), and only a new object starts clean.
    RtMidi* remake();
    //! Makes the RtMidi object, and the MIDI system's own client, ahead of need on
    //! the calling thread (not the user-interface thread `home`). ensure() and
    //! remake() wait for `ready`, the end of that work, and take over what it made.
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

    //! On JACK, whether one of Tandrel's own ports is connected to the device's port
    //! now: RtMidi's JACK openPort does not look at what jack_connect said. True
    //! on other systems, whose RtMidi reports a failed connection itself.
    bool connectedTo(const MidiDevice& device) const;

    //! The error RtMidi reported last, cleared by reading it.
    std::string takeError();

private:
    //! A new RtMidi object on `api`: `made` when it was made ahead, else made now.
    RtMidi* make(MidiBackend::Api api, std::shared_ptr<RtMidi> made = nullptr);
    //! What was made ahead, once that work is over, if it is on `api`.
    std::shared_ptr<RtMidi> takeMadeAhead(MidiBackend::Api api);
    void onServerStopped();
    //! Lets go of every port's object on a stopped JACK server: libjack crashes when
    //! one is closed after this process has joined a server that came back.
    static void releaseStopped();

    Maker make_;
    QObject* context_;
    std::function<void()> replaced_;
    std::function<void()> stopped_;
    std::shared_ptr<MidiBackend> backend_;
    std::shared_ptr<JackMonitor> jack_;
    QMetaObject::Connection stopConnection_;
    MidiBackend::Api api_ = MidiBackend::Api::None;
    std::shared_future<void> ahead_;
    std::shared_ptr<RtMidi> madeAhead_;
    MidiBackend::Api aheadApi_ = MidiBackend::Api::None;
    std::weak_ptr<JackMonitor> aheadJack_;  //!< the server it was made on, on JACK
    std::mutex errorMutex_;
    std::string error_;
    //! Last, so that it goes first, and RtMidi's thread with it: that thread reports
    //! into the error buffer above until then.
    std::shared_ptr<RtMidi> midi_;
};

}  // namespace tandrel
