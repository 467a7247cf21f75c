// SPDX-License-Identifier: GPL-3.0-or-later
// The production ports on a machine with no MIDI system at all: no ALSA sequencer
// (an ALSA configuration that defines none) and no JACK server (a name nobody serves).
#include "platform/MidiErrors.h"
#include "platform/MidiPorts.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace tandrel;

namespace {

class NoMidiSystemTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        const QString conf = dir_.filePath(QStringLiteral("alsa.conf"));
        QFile(conf).open(QIODevice::WriteOnly);
        qputenv("ALSA_CONFIG_PATH", QFile::encodeName(conf));
        qputenv("JACK_DEFAULT_SERVER", "tandrel-nowhere-" + QByteArray::number(QCoreApplication::applicationPid()));
        qunsetenv("TANDREL_MIDI_API");
        in_ = CreateMIDIInput();
        out_ = CreateMIDIOutput();
        const auto report = [this](std::int16_t code, const QString& text) { reported_.emplace_back(code, text); };
        in_->events.Error = report;
        out_->events.Error = report;
    }

    void settle()
    {
        QDeadlineTimer deadline(300);
        while (!deadline.hasExpired()) QCoreApplication::processEvents();
    }

    QTemporaryDir dir_;
    std::unique_ptr<MIDIInput> in_;
    std::unique_ptr<MIDIOutput> out_;
    std::vector<std::pair<std::int16_t, QString>> reported_;
};

TEST_F(NoMidiSystemTest, SaysSoOnceNamingBothSystemsAndCarriesOn)
{
    EXPECT_EQ(in_->DeviceCount(), 0);
    EXPECT_EQ(out_->DeviceCount(), 0);
    out_->setDeviceID(MIDIOutput::MidiMapper);
    EXPECT_EQ(out_->DeviceName(), QStringLiteral("Tandrel"));

    // Start-up, as the main window runs it.
    in_->setSysexBufferSize(125000);
    in_->setDeviceID(0);
    in_->setCommand(MIDIInput::Open);
    for (int status : {249, 176, 192, 254, 248}) in_->setFilter(status, true);
    out_->setDeviceID(MIDIOutput::MidiMapper);
    out_->setCommand(MIDIOutput::Close);
    out_->setCommand(MIDIOutput::Open);
    in_->setCommand(MIDIInput::Start);
    settle();
    ASSERT_EQ(reported_.size(), 1u);
    const auto& [first, text] = reported_[0];
    EXPECT_EQ(first, code(MidiError::NoMidiSystem));
    EXPECT_TRUE(text.contains(QLatin1String("ALSA")) && text.contains(QLatin1String("JACK"))) << text.toStdString();
    EXPECT_EQ(in_->State(), MIDIInput::Closed);
    EXPECT_EQ(out_->State(), MIDIOutput::Closed);

    // Everything else the program does with the ports goes by without a word.
    for (std::int16_t c : {MIDIInput::Stop, MIDIInput::Close, MIDIInput::Open, MIDIInput::Start, MIDIInput::DiscardOldest})
        in_->setCommand(c);
    out_->setCommand(MIDIOutput::Close);
    out_->setCommand(MIDIOutput::Open);
    EXPECT_EQ(in_->MessageCount(), 0);
    EXPECT_EQ(in_->MessageData(), ByteString());
    settle();
    EXPECT_EQ(reported_.size(), 1u);

    // A send to the closed output is reported once, not once per message.
    const ByteString message("\xF0\x41\x10\x00\x1B\x12\x00\x00\x00\x00\x00\xF7", 12);
    for (int i = 0; i < 3; ++i) {
        out_->setMessageData(message);
        out_->setCommand(MIDIOutput::Transmit);
        EXPECT_EQ(out_->MessageData(), message) << "reads back what was handed over";
    }
    settle();
    ASSERT_EQ(reported_.size(), 2u);
    EXPECT_EQ(reported_[1].first, code(MidiError::PortNotOpen));
}

TEST_F(NoMidiSystemTest, ValuesAPortCannotTakeAreReportedAsCode7)
{
    const std::vector<std::pair<const char*, std::function<void()>>> cases = {
        {"input command 3", [&] { in_->setCommand(3); }},
        {"output command 4", [&] { out_->setCommand(4); }},
        {"filter of 256", [&] { in_->setFilter(256, true); }},
        {"filter of -1", [&] { in_->setFilter(-1, false); }},
        {"buffer of 0 bytes", [&] { in_->setSysexBufferSize(0); }},
    };
    for (const auto& [name, act] : cases) {
        SCOPED_TRACE(name);
        reported_.clear();
        act();
        settle();
        ASSERT_EQ(reported_.size(), 1u);
        EXPECT_EQ(reported_[0].first, code(MidiError::InvalidValue));
    }
}

}  // namespace
