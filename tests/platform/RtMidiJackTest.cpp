// SPDX-License-Identifier: GPL-3.0-or-later
// The production MIDI ports through a private JACK server, with gt3sim playing the GT-3 at the
// other end.
#include "platform/MidiPorts.h"
#include "platform/RtMidiOutput.h"
#include "setup/PortOpening.h"
#include "support/JackServer.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <optional>

#include <unistd.h>

using namespace tandrel;
using namespace tandrel::testing;
using namespace std::chrono_literals;
using namespace std::string_literals;

namespace {

//! The names of a port's devices: QStringList::indexOf gives a device's number.
template <class Port>
QStringList deviceNames(Port& port) { return ListDevices(port, 0); }

//! One System Exclusive message of `size` bytes.
ByteString oneMessage(std::size_t size) { return '\xF0' + ByteString(size - 2, '\x11') + '\xF7'; }

std::vector<ByteString> messagesOf(const ByteString& dump)
{
    std::vector<ByteString> messages;
    for (std::size_t start = 0, end; (end = dump.find('\xF7', start)) != ByteString::npos; start = end + 1)
        messages.push_back(dump.substr(start, end + 1 - start));
    return messages;
}

class RtMidiJackTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!JackServer::installed()) GTEST_SKIP() << "jackd2 is not installed: no transport to test through";
        ASSERT_FALSE(gt3simPath().isEmpty()) << "gt3sim is not built";
        alarm(240);  // SIGALRM: a hang fails at once, not at CTest's timeout
        jack_.emplace();
        ASSERT_TRUE(jack_->ok()) << jack_->error().toStdString();
    }
    void TearDown() override { alarm(0); }

    QString file(const QString& name) const { return dir_.filePath(name); }
    QString write(const QString& name, const ByteString& data)
    {
        EXPECT_TRUE(writeBytes(file(name), QByteArray::fromStdString(data)));
        return file(name);
    }
    //! A gt3sim dump of `size` bytes in "<size>.syx".
    ByteString generate(int size) { return generateDump(file(QString("%1.syx").arg(size)), size).toStdString(); }

    std::optional<JackServer> jack_;
    QTemporaryDir dir_;
};

TEST_F(RtMidiJackTest, InputDeliversEveryMessageByteExactFilteredAndCutOnlyBeyondTheBuffer)
{
    // A whole dump from a device is received by the CLI and window tests; a message below the
    // buffer's size arrives whole in the first piece of the one above it.
    const ByteString big = oneMessage(130000);
    // A clock tick inside a System Exclusive message, and every kind the start-up filters name.
    const ByteString mixed = "\xF0\x01\x02\xF8\x03\xF7\x90\x40\x7F\xF8\xB0\x07\x64\xFE\xC0\x05\xF9"
                             "\xF0\x7E\x7F\x06\x01\xF7\xE0\x00\x40\xFC"s;
    struct Case {
        const char* name;
        const ByteString& stream;
        std::vector<int> dropped;
        std::vector<ByteString> expected;
    };
    const std::vector<Case> cases = {
        {"one 130000-byte message arrives in pieces", big, {}, {big.substr(0, 125000), big.substr(125000)}},
        {"the start-up filters", mixed, {249, 176, 192, 254, 248},
         {"\xF0\x01\x02\x03\xF7"s, "\x90\x40\x7F"s, "\xF0\x7E\x7F\x06\x01\xF7"s, "\xE0\x00\x40"s, "\xFC"s}},
        {"System Exclusive filtered", mixed, {0xF0},
         {"\xF8"s, "\x90\x40\x7F"s, "\xF8"s, "\xB0\x07\x64"s, "\xFE"s, "\xC0\x05"s, "\xF9"s, "\xE0\x00\x40"s, "\xFC"s}},
    };
    int round = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // An input port drained as the main window drains it, on gt3sim transmitting the stream.
        std::vector<ByteString> got;
        std::vector<QString> errors;
        auto in = CreateMIDIInput();
        in->setSysexBufferSize(125000);
        for (int status : c.dropped) in->setFilter(status, true);
        in->events.Message = [&] {
            for (; !in->MessageData().empty() && in->MessageCount() > 0; in->setCommand(MIDIInput::DiscardOldest))
                got.push_back(in->MessageData());
        };
        in->events.Error = [&](std::int16_t, const QString& text) { errors.push_back(text); };
        const QString name = QString("sim%1").arg(round++);  // JACK renames a client whose name is still taken
        auto sim = startGt3sim({"transmit", write("transmit.syx", c.stream), "--pacing", "fast",
                                "--name", name, "--wait-ms", "20000"});
        ASSERT_TRUE(jack_->waitForPort(name + ":out")) << sim->readAllStandardError().toStdString();
        in->setDeviceID(static_cast<std::int16_t>(deviceNames(*in).indexOf(name + ":out")));
        in->setCommand(MIDIInput::Open);
        in->setCommand(MIDIInput::Start);
        ASSERT_EQ(in->State(), MIDIInput::Delivering);
        EXPECT_TRUE(runEventsUntil([&] { return got.size() >= c.expected.size(); }, 30s)) << got.size() << " messages";
        EXPECT_TRUE(finishGt3sim(*sim, 10s) && sim->exitCode() == 0) << sim->readAllStandardError().toStdString();
        runEventsFor(200ms);  // anything extra would show up now
        std::erase_if(errors, [&](const QString& text) { return jack_->xrunExplains(text); });
        EXPECT_TRUE(errors.empty()) << errors.front().toStdString();
        EXPECT_TRUE(got == c.expected) << got.size() << " messages; every one byte for byte, in order";
    }
}

TEST_F(RtMidiJackTest, OutputSendsEveryByteAndDinPacingKeepsThePause)
{
    const ByteString dump = generate(125000), big = oneMessage(40000), small = generate(4000);
    // A dump to a device, fast and at DIN pace with the default pause, is sent by the CLI test.
    struct Case {
        const char* name;
        const ByteString& data;
        std::int16_t device;
        int pauseMs;  //!< DIN pacing with this pause; 0: fast
    };
    const std::vector<Case> cases = {
        {"fast: a dump to the virtual port", dump, MIDIOutput::MidiMapper, 0},
        {"fast: one 40000-byte message, more than JACK carries in one event", big, 0, 0},
        {"DIN, 45 ms pause", small, 0, 45},
    };
    int round = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RtMidiOutput out;
        ASSERT_EQ(out.pacing(), OutputPacer::Mode::Din) << "DIN is the default";
        if (c.pauseMs) out.setPause(std::chrono::milliseconds(c.pauseMs));
        else out.setPacing(OutputPacer::Mode::Fast);
        std::vector<QString> errors;
        out.events.Error = [&](std::int16_t, const QString& text) { errors.push_back(text); };
        int queueEmpty = 0;
        out.events.QueueEmpty = [&] { ++queueEmpty; };

        // gt3sim records; on Tandrel's own port (-1) it connects itself.
        const QString rx = QString("rx%1").arg(round++);
        const bool mapper = c.device == MIDIOutput::MidiMapper;
        QStringList args{"receive", file("received.syx"), "--name", rx, "--expect-bytes", QString::number(c.data.size())};
        if (mapper) args << "--connect" << "Tandrel:Tandrel";
        if (c.pauseMs) args << "--min-pause-ms" << QString::number(c.pauseMs);
        auto sim = startGt3sim(args);
        ASSERT_TRUE(jack_->waitForPort(rx + ":in")) << sim->readAllStandardError().toStdString();
        out.setDeviceID(mapper ? c.device : static_cast<std::int16_t>(deviceNames(out).indexOf(rx + ":in")));
        out.setCommand(MIDIOutput::Open);
        ASSERT_EQ(out.State(), MIDIOutput::Opened);
        if (mapper) {
            EXPECT_EQ(out.DeviceName(), "Tandrel");
            EXPECT_TRUE(jack_->waitForPort("Tandrel:Tandrel"));
            runEventsFor(300ms);  // gt3sim connects to it
        }
        // Message by message, as the main window sends.
        std::size_t sent = 0;
        const std::vector<ByteString> messages = messagesOf(c.data);
        for (const ByteString& m : messages) {
            out.setMessageStatus(240);
            out.setMessageData(m);
            out.setCommand(MIDIOutput::Transmit);
            sent += out.MessageData().size();
            out.setMessageData({});
            QCoreApplication::processEvents();
        }
        EXPECT_EQ(sent, c.data.size()) << "MessageData reads back what was handed over";
        EXPECT_TRUE(runEventsUntil([&] { return queueEmpty > 0; }, 5s)) << "QueueEmpty after the last message";
        EXPECT_TRUE(finishGt3sim(*sim, 60s));
        const QString output = QString::fromLocal8Bit(sim->readAllStandardOutput());
        EXPECT_EQ(sim->exitCode(), 0) << output.toStdString();
        EXPECT_TRUE(errors.empty()) << errors.front().toStdString();
        EXPECT_EQ(readBytes(file("received.syx")).toStdString(), c.data) << "gt3sim received every byte, in order";
        if (!c.pauseMs) continue;
        auto report = gt3simSummary(output, "gt3sim receive:");
        EXPECT_GE(report["min_pause_us"], c.pauseMs * 1000);
        // The wire model: 320 µs a byte, and the pause between messages.
        const double model = (static_cast<double>(c.data.size()) * 320
                              + static_cast<double>(messages.size() - 1) * c.pauseMs * 1000) / 1e6;
        const double wire = static_cast<double>(report["wire_span_us"]) / 1e6;
        EXPECT_GE(wire, model);
        EXPECT_LT(wire, model * 2 + 1) << "pacing adds no more than it must";
    }
}

// Receive reopens the input while the device may be in the middle of a message: neither what
// was half received before nor the rest that comes after may reach the new dump.
TEST_F(RtMidiJackTest, AReopenedInputStartsFromACleanParser)
{
    const ByteString whole = "\xF0\x41\x10\x00\x1B\x12\x00\x00\x00\x01\x02\x7D\xF7"s;
    const ByteString head = "\xF0\x41\x10\x00\x1B\x12\x00\x00\x00\x05\x06\x07"s;  // cut off before its F7
    struct Case {
        const char* name;
        ByteString before;  //!< played to the input before it is closed and opened again
        ByteString after;
        bool peekBefore = false;  //!< before the reopen, messages are read but not dropped
    };
    const std::vector<Case> cases = {
        {"the rest of a message after the reopen", {}, "\x05\x06\x07\x08\x70\xF7"s + whole},
        {"a head before, its rest after", head, "\x08\x70\xF7"s + whole},
        {"a head before, a whole message after", head, whole},
        {"a message read and not dropped before", whole, whole, true},
    };
    int round = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto in = CreateMIDIInput();
        std::vector<ByteString> got;
        bool peek = c.peekBefore;
        in->events.Message = [&] {
            if (peek) return void(in->MessageData());
            for (; !in->MessageData().empty() && in->MessageCount() > 0; in->setCommand(MIDIInput::DiscardOldest))
                got.push_back(in->MessageData());
        };
        const auto play = [&](const ByteString& stream) {
            const QString name = QString("part%1").arg(round++);
            // In pieces, as a long message crosses JACK's cycles; a start late enough for the port to be started.
            auto sim = startGt3sim({"transmit", write(name + ".syx", stream), "--pacing",
                                    "fast", "--piece", "4", "--name", name, "--wait-ms", "20000", "--delay-ms", "300"});
            EXPECT_TRUE(jack_->waitForPort(name + ":out"));
            in->setCommand(MIDIInput::Close);
            in->setDeviceID(static_cast<std::int16_t>(deviceNames(*in).indexOf(name + ":out")));
            in->setCommand(MIDIInput::Open);
            in->setCommand(MIDIInput::Start);
            EXPECT_TRUE(finishGt3sim(*sim, 10s) && sim->exitCode() == 0) << sim->readAllStandardError().toStdString();
            runEventsFor(300ms);
        };
        if (!c.before.empty()) play(c.before);
        EXPECT_TRUE(got.empty());
        EXPECT_EQ(in->MessageCount(), c.peekBefore ? 1 : 0);
        peek = false;
        play(c.after);
        EXPECT_EQ(got, std::vector<ByteString>{whole});
    }
}

// Device −1 is a port of Tandrel's own named "Tandrel", there only while it is chosen: whatever
// listens to it must not go on hearing what is sent to a device chosen after it.
TEST_F(RtMidiJackTest, TheVirtualPortIsThereOnlyWhileChosenAndAlwaysByItsName)
{
    auto rx = startGt3sim({"receive", file("received.syx"), "--name", "rx", "--timeout-ms", "20000"});
    ASSERT_TRUE(jack_->waitForPort("rx:in"));
    const auto ownPorts = [&] { return jack_->ports().filter(QRegularExpression("^Tandrel:")); };
    // The choices opened in turn: −1 is the virtual port, 0 gt3sim.
    const std::pair<const char*, std::vector<std::int16_t>> cases[] = {
        {"Tandrel, then a device", {MIDIOutput::MidiMapper, 0}},
        {"a device, then Tandrel", {0, MIDIOutput::MidiMapper}},
        {"Tandrel, a device, Tandrel again", {MIDIOutput::MidiMapper, 0, MIDIOutput::MidiMapper}},
    };
    for (const auto& [name, choices] : cases) {
        SCOPED_TRACE(name);
        RtMidiOutput out;
        std::vector<QString> errors;
        out.events.Error = [&](std::int16_t, const QString& text) { errors.push_back(text); };
        for (const std::int16_t id : choices) {
            SCOPED_TRACE(id);
            out.setDeviceID(id);
            out.setCommand(MIDIOutput::Open);
            ASSERT_EQ(out.State(), MIDIOutput::Opened);
            EXPECT_EQ(ownPorts(), QStringList{id == MIDIOutput::MidiMapper ? "Tandrel:Tandrel" : "Tandrel:out"});
        }
        out.setCommand(MIDIOutput::Close);
        EXPECT_EQ(ownPorts(), QStringList{});
        QCoreApplication::processEvents();
        EXPECT_TRUE(errors.empty()) << errors.front().toStdString();
    }
}

// A device JACK lists but will not connect to (its client is not active): the port must not
// read open with nothing connected, and the user is told which device failed. Below the first
// device (the input's 0, the output's virtual port) is no device at all: what a port holds once
// the device chosen in Setup has gone.
TEST_F(RtMidiJackTest, ADeviceThatCannotBeOpenedLeavesThePortClosedAndSaysWhy)
{
    generate(3000);
    const struct {
        const char* name;
        bool input, listed;  //!< listed: an inactive gt3sim; otherwise device -2
        MidiError error;
        QString says;  //!< the whole text, or for a listed device its port's name within it
    } cases[] = {
        {"input, takes no connection", true, true, MidiError::OpenFailed, "deadout:out"},
        {"output, takes no connection", false, true, MidiError::OpenFailed, "deadin:in"},
        {"input, a number below every device", true, false, MidiError::NoSuchDevice,
         "No MIDI input device is chosen. Click Setup to choose one."},
        {"output, a number below every device", false, false, MidiError::NoSuchDevice,
         "No MIDI output device is chosen. Click Setup to choose one."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<QProcess> sim;
        if (c.listed) {
            sim = startGt3sim({c.input ? "transmit" : "receive", file(c.input ? "3000.syx" : "rx.syx"), "--name",
                               c.says.section(u':', 0, 0), "--inactive", "1", "--wait-ms", "20000", "--timeout-ms", "20000"});
            ASSERT_TRUE(jack_->waitForPort(c.says));
        }
        std::vector<std::pair<std::int16_t, QString>> errors;
        const auto onError = [&](std::int16_t code, const QString& text) { errors.emplace_back(code, text); };
        const auto device = [&](auto& port) {
            return c.listed ? static_cast<std::int16_t>(deviceNames(port).indexOf(c.says)) : std::int16_t(-2);
        };
        std::int16_t state = -1;
        if (c.input) {
            auto in = CreateMIDIInput();
            in->events.Error = onError;
            in->setDeviceID(device(*in));
            in->setCommand(MIDIInput::Open);
            state = in->State();
            QCoreApplication::processEvents();  // the error comes as a posted event
        } else {
            RtMidiOutput out;
            out.events.Error = onError;
            out.setDeviceID(device(out));
            out.setCommand(MIDIOutput::Open);
            state = out.State();
            QCoreApplication::processEvents();
        }
        if (sim) sim->kill();
        EXPECT_EQ(state, 0) << "closed";
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0].first, tandrel::code(c.error));
        EXPECT_TRUE(c.listed ? errors[0].second.contains(c.says) : errors[0].second == c.says)
            << errors[0].second.toStdString();
    }
}

// The clients are made ahead, as at start-up. Tandrel's own ports are never listed; an input may
// go with a wake-up pending; the server's end is told from the client made elsewhere.
TEST_F(RtMidiJackTest, ClientsMadeAheadServeThePortsAndTellWhenTheServerStops)
{
    const ByteString dump = generate(3000);
    {  // dropped while the clients are still being made: the ports wait for the work ahead
        auto in = CreateMIDIInput();
        auto out = CreateMIDIOutput();
        MakeMIDIClientsAhead(*in, *out);
    }
    auto in = CreateMIDIInput();
    auto out = CreateMIDIOutput();
    MakeMIDIClientsAhead(*in, *out);
    auto rx = startGt3sim({"receive", file("received.syx"), "--name", "rx", "--timeout-ms", "3000"});
    auto src = startGt3sim({"transmit", file("3000.syx"), "--name", "src", "--pacing", "fast", "--delay-ms", "1500"});
    ASSERT_TRUE(jack_->waitForPort("rx:in") && jack_->waitForPort("src:out"));
    std::vector<QString> errors;
    out->events.Error = [&](std::int16_t, const QString& text) { errors.push_back(text); };
    out->setDeviceID(static_cast<std::int16_t>(deviceNames(*out).indexOf("rx:in")));
    out->setCommand(MIDIOutput::Open);
    ASSERT_EQ(out->State(), MIDIOutput::Opened);
    in->setDeviceID(static_cast<std::int16_t>(deviceNames(*in).indexOf("src:out")));
    bool raised = false;
    in->events.Message = [&] { raised = true; };
    in->setCommand(MIDIInput::Open);
    in->setCommand(MIDIInput::Start);
    ASSERT_EQ(in->State(), MIDIInput::Delivering);
    EXPECT_EQ(deviceNames(*in), QStringList{"src:out"});
    EXPECT_EQ(deviceNames(*out), QStringList{"rx:in"});
    for (const ByteString& m : messagesOf(dump)) {
        out->setMessageData(m);
        out->setCommand(MIDIOutput::Transmit);
    }
    EXPECT_TRUE(finishGt3sim(*rx, 20s)) << rx->readAllStandardError().toStdString();
    EXPECT_EQ(readBytes(file("received.syx")).toStdString(), dump);

    // Messages came in and wake-ups were posted, but no event is processed before the input goes.
    ASSERT_TRUE(finishGt3sim(*src, 20s));
    QThread::msleep(100);
    EXPECT_GT(in->MessageCount(), 0);
    in.reset();
    QCoreApplication::processEvents();
    EXPECT_FALSE(raised);
    EXPECT_TRUE(errors.empty()) << errors.front().toStdString();
    jack_->kill();
    EXPECT_TRUE(runEventsUntil([&] { return !errors.empty(); }, 10s));
    EXPECT_TRUE(!errors.empty() && errors.front().contains("JACK server stopped")) << errors.size();
    EXPECT_EQ(out->State(), MIDIOutput::Closed);
}

}  // namespace
