// SPDX-License-Identifier: GPL-3.0-or-later
// The production ports with no MIDI system at all: an ALSA configuration that defines
// no sequencer, and a JACK server name nobody serves.
#include "platform/MidiErrors.h"
#include "platform/MidiPorts.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace tandrel;

namespace {

TEST(NoMidiSystemTest, SaysSoOnceNamingBothSystemsAndCarriesOn)
{
    const auto settle = [] {
        for (QDeadlineTimer deadline(300); !deadline.hasExpired();) QCoreApplication::processEvents();
    };
    QTemporaryDir dir;
    QFile conf(dir.filePath("alsa.conf"));
    ASSERT_TRUE(conf.open(QIODevice::WriteOnly));
    qputenv("ALSA_CONFIG_PATH", QFile::encodeName(conf.fileName()));
    qputenv("JACK_DEFAULT_SERVER", "tandrel-nowhere-" + QByteArray::number(QCoreApplication::applicationPid()));
    qunsetenv("TANDREL_MIDI_API");
    const auto in = CreateMIDIInput();
    const auto out = CreateMIDIOutput();
    std::vector<std::pair<std::int16_t, QString>> reported;
    in->events.Error = out->events.Error = [&](std::int16_t c, const QString& text) { reported.emplace_back(c, text); };
    EXPECT_EQ(in->DeviceCount() + out->DeviceCount(), 0);
    // Start-up, as the main window runs it.
    in->setSysexBufferSize(125000);
    in->setDeviceID(0);
    in->setCommand(MIDIInput::Open);
    for (int status : {249, 176, 192, 254, 248}) in->setFilter(status, true);
    out->setDeviceID(MIDIOutput::MidiMapper);
    out->setCommand(MIDIOutput::Close);
    out->setCommand(MIDIOutput::Open);
    in->setCommand(MIDIInput::Start);
    settle();
    ASSERT_EQ(reported.size(), 1u);
    const auto& [first, text] = reported[0];
    EXPECT_EQ(first, code(MidiError::NoMidiSystem));
    EXPECT_TRUE(text.contains("ALSA") && text.contains("JACK")) << text.toStdString();
    EXPECT_EQ(in->State() + out->State(), 0) << "both ports closed";

    // Everything else the program does with the ports goes by without a word.
    for (std::int16_t c : {MIDIInput::Stop, MIDIInput::Close, MIDIInput::Open, MIDIInput::Start, MIDIInput::DiscardOldest})
        in->setCommand(c);
    out->setCommand(MIDIOutput::Close);
    out->setCommand(MIDIOutput::Open);
    settle();
    EXPECT_EQ(reported.size(), 1u);

    // A send to the closed output is reported once, not once per message.
    const ByteString message("\xF0\x41\x10\x00\x1B\x12\x00\x00\x00\x00\x00\xF7", 12);
    for (int i = 0; i < 3; ++i) {
        out->setMessageData(message);
        out->setCommand(MIDIOutput::Transmit);
        EXPECT_EQ(out->MessageData(), ByteString()) << "reads back what was handed over: nothing";
    }
    settle();
    ASSERT_EQ(reported.size(), 2u);
    EXPECT_EQ(reported[1].first, code(MidiError::PortNotOpen));

    // Values a port cannot take are reported as code 7.
    const std::vector<std::pair<const char*, std::function<void()>>> invalid = {
        {"input command 3", [&] { in->setCommand(3); }},
        {"output command 4", [&] { out->setCommand(4); }},
        {"filter of 256", [&] { in->setFilter(256, true); }},
        {"filter of -1", [&] { in->setFilter(-1, false); }},
        {"buffer of 0 bytes", [&] { in->setSysexBufferSize(0); }},
    };
    for (const auto& [name, act] : invalid) {
        SCOPED_TRACE(name);
        reported.clear();
        act();
        settle();
        ASSERT_EQ(reported.size(), 1u);
        EXPECT_EQ(reported[0].first, code(MidiError::InvalidValue));
    }
}

}  // namespace
