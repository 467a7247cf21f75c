// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/JackMonitor.h"

#include <QString>

#include <memory>
#include <string>
#include <vector>

class RtMidi;

namespace tandrel {

//! A port another program offers, by its place in RtMidi's enumeration.
struct MidiDevice {
    unsigned int index;
    std::string name;
};

//! Chooses the MIDI system that both ports use: the ALSA sequencer where it can be
//! opened, else a running JACK server. TANDREL_MIDI_API=alsa or =jack allows only
//! that one. The choice is made again when nothing was found or JACK went away.
class MidiBackend {
public:
    enum class Api { None, Alsa, Jack };

    //! The backend the ports share; a new one once every port has let go.
    static std::shared_ptr<MidiBackend> shared();

    //! The MIDI system to use now, probing when none is known or JACK stopped.
    Api ensure();
    Api api() const { return api_; }
    //! With Api::Jack, the watch on the server that the current ports live on.
    std::shared_ptr<JackMonitor> jack() const { return jack_; }
    //! Why ensure() found nothing, naming each system it tried.
    QString whyNone() const { return whyNone_; }
    //! True the first time it is asked after ensure() found nothing, so that the
    //! ports say so once between them.
    bool claimNoSystemReport();

    //! The client names Tandrel's ports appear under.
    static const char* inputClientName() { return "Tandrel In"; }
    static const char* outputClientName() { return "Tandrel"; }
    //! The name of the virtual output port that device −1 opens.
    static const char* virtualPortName() { return "Tandrel"; }
    //! True for a port of Tandrel's own clients; device lists leave them out.
    static bool isOwnPort(const std::string& name);
    //! The ports `midi` can connect to, Tandrel's own left out.
    static std::vector<MidiDevice> listDevices(RtMidi& midi);

private:
    bool alsaOpens();

    Api api_ = Api::None;
    std::shared_ptr<JackMonitor> jack_;
    QString whyNone_;
    bool noSystemReported_ = false;
    bool alsaTried_ = false;
    bool alsaOpens_ = false;
};

}  // namespace tandrel
