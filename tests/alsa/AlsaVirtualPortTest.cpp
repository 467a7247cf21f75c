// SPDX-License-Identifier: GPL-3.0-or-later
// Tandrel's own virtual output on a real ALSA sequencer (run by tests/alsa/guest.sh):
// it is there, named "Tandrel", only while chosen, and whatever connected to it hears
// nothing once a device is chosen instead. The sequencer's own tools judge: `aconnect -l`
// lists the ports and their subscriptions, and `aseqdump` is the listener.
#include "platform/MidiPorts.h"
#include "support/JackServer.h"

#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <optional>

using namespace tandrel;
using namespace tandrel::testing;
using namespace std::chrono_literals;

namespace {

struct SeqPort {
    QString client, name, address;  //!< address: "client:port"
    QStringList connectingTo;       //!< addresses
};

//! The sequencer's ports as `aconnect -l` lists them.
std::vector<SeqPort> listPorts(QString* raw = nullptr)
{
    QProcess p;
    p.start("aconnect", {"-l"});
    p.waitForFinished(10000);
    const QString text = QString::fromLocal8Bit(p.readAllStandardOutput());
    if (raw) *raw = text;
    static const QRegularExpression clientLine(R"(^client (\d+): '(.*)')"), portLine(R"(^\s+(\d+) '(.*)')"),
        toLine(R"(^\s+Connecting To: (.*))"), address(R"((\d+:\d+))");
    std::vector<SeqPort> ports;
    QString client, number;
    for (const QString& line : text.split('\n')) {
        if (const auto m = clientLine.match(line); m.hasMatch()) {
            client = m.captured(2), number = m.captured(1);
        } else if (const auto m = portLine.match(line); m.hasMatch()) {
            ports.push_back({client, m.captured(2).trimmed(), number + ':' + m.captured(1), {}});
        } else if (const auto m = toLine.match(line); m.hasMatch() && !ports.empty()) {
            for (auto it = address.globalMatch(m.captured(1)); it.hasNext();) ports.back().connectingTo << it.next().captured(1);
        }
    }
    return ports;
}

std::vector<SeqPort> portsOf(const QString& client, const std::vector<SeqPort>& ports)
{
    std::vector<SeqPort> own;
    for (const SeqPort& p : ports)
        if (p.client == client) own.push_back(p);
    return own;
}

void send(MIDIOutput& out, const ByteString& message)
{
    out.setMessageStatus(240);
    out.setMessageData(message);
    out.setCommand(MIDIOutput::Transmit);
}

TEST(AlsaVirtualPort, IsThereOnlyWhileChosenByItsNameAndLeavesNoListenerBehind)
{
    if (!QFileInfo::exists("/dev/snd/seq") || !QFileInfo::exists("/dev/snd/midiC0D0"))
        GTEST_SKIP() << "no ALSA sequencer with a virtual MIDI card here: run it through tests/alsa/guest.sh";
    qputenv("TANDREL_MIDI_API", "alsa");
    qputenv("TANDREL_MIDI_PACING", "fast");
    // The choices made in turn: true is "Tandrel", false the device "VirMIDI 0-0".
    struct Case {
        const char* name;
        std::vector<bool> virtualPort;
    };
    const std::vector<Case> cases = {
        {"Tandrel, then a device", {true, false}},
        {"a device, then Tandrel", {false, true}},
        {"Tandrel, a device, Tandrel again", {true, false, true}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto out = CreateMIDIOutput();
        std::optional<std::int16_t> device;
        for (std::int16_t id = 0; id < out->DeviceCount() && !device; ++id)
            if (out->setDeviceID(id), out->DeviceName().contains("VirMIDI 0-0")) device = id;
        ASSERT_TRUE(device) << out->DeviceCount() << " output devices";
        QStringList errors;
        out->events.Error = [&](std::int16_t, const QString& text) { errors << text; };

        std::unique_ptr<QProcess> listener;
        QString heard, listenerClient;  // what aseqdump printed since the last choice
        bool left = false;              // the port the listener connected to was left
        for (std::size_t step = 0; step < c.virtualPort.size(); ++step) {
            const bool chosen = c.virtualPort[step];
            SCOPED_TRACE(step);
            out->setDeviceID(chosen ? MIDIOutput::MidiMapper : *device);
            out->setCommand(MIDIOutput::Open);
            ASSERT_EQ(out->State(), MIDIOutput::Opened) << errors.join('\n').toStdString();
            QString raw;
            const std::vector<SeqPort> own = portsOf("Tandrel", listPorts(&raw));
            const auto virtualPorts = std::count_if(own.begin(), own.end(), [](const SeqPort& p) { return p.name == "Tandrel"; });
            EXPECT_EQ(virtualPorts, chosen ? 1 : 0) << raw.toStdString();
            if (chosen) {
                EXPECT_EQ(own.size(), 1u) << "the virtual port alone: " << raw.toStdString();
            }
            left = left || (listener && !chosen);
            if (listener) {
                for (const SeqPort& p : own)
                    EXPECT_FALSE(p.connectingTo.join(' ').contains(listenerClient + ':')) << raw.toStdString();
            }
            if (chosen && !listener && !own.empty()) {
                listener = startProgram("aseqdump", {"-p", own.front().address});
                ASSERT_TRUE(listener->waitForStarted(10000));
                ASSERT_TRUE(runEventsUntil(
                    [&] {
                        for (const SeqPort& p : portsOf("Tandrel", listPorts()))
                            for (const SeqPort& l : listPorts())
                                if (l.client.startsWith("aseqdump") && p.connectingTo.contains(l.address))
                                    return listenerClient = l.address.section(':', 0, 0), true;
                        return false;
                    },
                    10s))
                    << "aseqdump did not connect";
            }
            heard.clear();
            const ByteString message{'\xF0', 0x7D, static_cast<char>(step), 0x55, '\xF7'};
            send(*out, message);
            if (listener) {
                const bool connected = chosen && !left;
                runEventsUntil(
                    [&] {
                        heard += QString::fromLocal8Bit(listener->readAllStandardOutput());
                        return connected && heard.contains("55 F7");
                    },
                    connected ? 5s : 700ms);
                EXPECT_EQ(heard.contains("55 F7"), connected)
                    << (connected ? "the listener hears the virtual port" : "a listener of the port left hears nothing")
                    << ": " << heard.toStdString();
            }
        }
        EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
        if (listener) listener->kill(), listener->waitForFinished(5000);
    }
}

}  // namespace
