// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/MidiBackend.h"

#include <RtMidi.h>

namespace tandrel {

std::shared_ptr<MidiBackend> MidiBackend::shared()
{
    static std::weak_ptr<MidiBackend> current;
    std::shared_ptr<MidiBackend> backend = current.lock();
    if (!backend) {
        backend = std::make_shared<MidiBackend>();
        current = backend;
    }
    return backend;
}

MidiBackend::Api MidiBackend::ensure()
{
    if (api_ == Api::Alsa || (api_ == Api::Jack && jack_ && jack_->alive())) return api_;
    api_ = Api::None;
    jack_.reset();

    const QString wanted = qEnvironmentVariable("TANDREL_MIDI_API").trimmed().toLower();
    const bool tryAlsa = wanted != QLatin1String("jack");
    const bool tryJack = wanted != QLatin1String("alsa");
    QStringList reasons;
    QString why;
    if (tryAlsa) {
        if (alsaOpens()) {
            noSystemReported_ = false;
            return api_ = Api::Alsa;
        }
        reasons << QStringLiteral("the ALSA sequencer could not be opened");
    }
    if (tryJack) {
        if (std::unique_ptr<JackMonitor> monitor = JackMonitor::connect(&why)) {
            jack_ = std::move(monitor);
            noSystemReported_ = false;
            return api_ = Api::Jack;
        }
        reasons << why;
    }
    whyNone_ = QStringLiteral("No MIDI system was found: %1. Tandrel can still open and save .syx files.")
                   .arg(reasons.join(QStringLiteral(", and ")));
    return Api::None;
}

bool MidiBackend::claimNoSystemReport()
{
    if (api_ != Api::None || noSystemReported_) return false;
    noSystemReported_ = true;
    return true;
}

bool MidiBackend::alsaOpens()
{
    // The sequencer does not come and go while the program runs (JACK servers do),
    // so one try is enough.
    if (!alsaTried_) {
        alsaTried_ = true;
        try {
            RtMidiIn probe(RtMidi::LINUX_ALSA, outputClientName());
            alsaOpens_ = true;
        } catch (const RtMidiError&) {
            alsaOpens_ = false;
        }
    }
    return alsaOpens_;
}

bool MidiBackend::isOwnPort(const std::string& name)
{
    for (const std::string client : {inputClientName(), outputClientName()}) {
        if (name.compare(0, client.size(), client) != 0) continue;
        // ALSA names read "Tandrel:Tandrel 128:0"; JACK adds "-01" to a second instance.
        if (name.size() == client.size() || name[client.size()] == ':' || name[client.size()] == '-')
            return true;
    }
    return false;
}

std::vector<MidiDevice> MidiBackend::listDevices(RtMidi& midi)
{
    std::vector<MidiDevice> list;
    const unsigned int count = midi.getPortCount();
    for (unsigned int i = 0; i < count; ++i) {
        std::string name = midi.getPortName(i);
        if (!name.empty() && !isOwnPort(name)) list.push_back({i, std::move(name)});
    }
    return list;
}

}  // namespace tandrel
