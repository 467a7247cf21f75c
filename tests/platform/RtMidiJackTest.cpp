// SPDX-License-Identifier: GPL-3.0-or-later
// The production MIDI ports through a private JACK server, with gt3sim playing the GT-3 at the other end.
#include "platform/MidiPorts.h"
#include "platform/RtMidiOutput.h"
#include "support/JackServer.h"

#include <QCoreApplication>
#include <QFile>
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

template <class Port>
QStringList deviceNames(Port& port)
{
    QStringList names;
    for (std::int16_t id = 0; id < port.DeviceCount(); ++id) {
        port.setDeviceID(id);
        names << port.DeviceName();
    }
    return names;
}

template <class Port>
std::int16_t deviceNamed(Port& port, const QString& name)
{
    return static_cast<std::int16_t>(deviceNames(port).indexOf(name));
}

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

    //! A gt3sim dump of `size` bytes in "<size>.syx"; `whole`: one message.
    ByteString generate(int size, bool whole = false)
    {
        QStringList args{"generate", file(QString("%1.syx").arg(size)), "--size", QString::number(size)};
        if (whole) args << "--block" << "1000000";
        auto sim = startGt3sim(args);
        EXPECT_TRUE(finishGt3sim(*sim, 30s) && sim->exitCode() == 0) << sim->readAllStandardError().toStdString();
        return readBytes(args[1]).toStdString();
    }

    std::optional<JackServer> jack_;
    QTemporaryDir dir_;
};

TEST_F(RtMidiJackTest, InputDeliversEveryMessageByteExactFilteredAndCutOnlyBeyondTheBuffer)
{
    const ByteString dump = generate(125000), whole = generate(20000, true), big = generate(130000, true);
    ASSERT_GT(messagesOf(dump).size(), 300u);
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
        {"a 125000-byte dump", dump, {}, messagesOf(dump)},
        {"one 20000-byte message arrives whole", whole, {}, {whole}},
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
        QFile f(file("transmit.syx"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(QByteArray::fromStdString(c.stream)) == qint64(c.stream.size()));
        f.close();
        const QString name = QString("sim%1").arg(round++);  // JACK renames a client whose name is still taken
        auto sim = startGt3sim({"transmit", f.fileName(), "--pacing", "fast", "--name", name, "--wait-ms", "20000"});
        ASSERT_TRUE(jack_->waitForPort(name + ":out")) << sim->readAllStandardError().toStdString();
        in->setDeviceID(deviceNamed(*in, name + ":out"));
        in->setCommand(MIDIInput::Open);
        in->setCommand(MIDIInput::Start);
        ASSERT_EQ(in->State(), MIDIInput::Delivering);
        EXPECT_TRUE(runEventsUntil([&] { return got.size() >= c.expected.size(); }, 30s)) << got.size() << " messages";
        EXPECT_TRUE(finishGt3sim(*sim, 10s) && sim->exitCode() == 0) << sim->readAllStandardError().toStdString();
        runEventsUntil([] { return false; }, 200ms);  // anything extra would show up now
        EXPECT_TRUE(errors.empty()) << errors.front().toStdString();
        EXPECT_EQ(got.size(), c.expected.size());
        EXPECT_TRUE(got == c.expected) << "every message, byte for byte, in order";
    }
}

TEST_F(RtMidiJackTest, OutputSendsEveryByteAndDinPacingKeepsThePause)
{
    const ByteString dump = generate(125000), big = generate(40000, true), small = generate(4000);
    struct Case {
        const char* name;
        const ByteString& data;
        std::int16_t device;
        int pauseMs;  //!< DIN pacing with this pause; 0: fast
    };
    const std::vector<Case> cases = {
        {"fast: a dump to a device", dump, 0, 0},
        {"fast: a dump to the virtual port", dump, MIDIOutput::MidiMapper, 0},
        {"fast: one 40000-byte message, more than JACK carries in one event", big, 0, 0},
        {"DIN, 20 ms pause", small, 0, 20},
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
        out.setDeviceID(mapper ? c.device : deviceNamed(out, rx + ":in"));
        out.setCommand(MIDIOutput::Open);
        ASSERT_EQ(out.State(), MIDIOutput::Opened);
        if (mapper) {
            EXPECT_EQ(out.DeviceName(), "Tandrel");
            EXPECT_TRUE(jack_->waitForPort("Tandrel:Tandrel"));
            runEventsUntil([] { return false; }, 300ms);  // gt3sim connects to it
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
        auto report = gt3simSummary(output, "gt3sim receive:");
        EXPECT_EQ(report["messages"], static_cast<long long>(messages.size()));
        for (const char* none : {"checksum_errors", "framing_errors", "lost"}) EXPECT_EQ(report[none], 0) << none;
        out.setCommand(MIDIOutput::Close);
        EXPECT_EQ(out.State(), MIDIOutput::Closed);
        if (!c.pauseMs) continue;
        EXPECT_GE(report["min_pause_us"], c.pauseMs * 1000);
        // The wire model: 320 µs a byte, and the pause between messages.
        const double model = (static_cast<double>(c.data.size()) * 320
                              + static_cast<double>(messages.size() - 1) * c.pauseMs * 1000) / 1e6;
        const double wire = static_cast<double>(report["wire_span_us"]) / 1e6;
        EXPECT_GE(wire, model);
        EXPECT_LT(wire, model * 2 + 1) << "pacing adds no more than it must";
    }
}

TEST_F(RtMidiJackTest, OwnPortsAreNeverListedAndAPortMayGoWithAWakeUpPending)
{
    generate(3000);
    auto rx = startGt3sim({"receive", file("received.syx"), "--name", "rx", "--timeout-ms", "3000"});
    auto src = startGt3sim({"transmit", file("3000.syx"), "--name", "src", "--pacing", "fast", "--delay-ms", "1500"});
    ASSERT_TRUE(jack_->waitForPort("rx:in") && jack_->waitForPort("src:out"));
    auto in = CreateMIDIInput();
    auto out = CreateMIDIOutput();
    out->setDeviceID(MIDIOutput::MidiMapper);
    out->setCommand(MIDIOutput::Open);
    in->setDeviceID(deviceNamed(*in, "src:out"));
    bool raised = false;
    in->events.Message = [&] { raised = true; };
    in->setCommand(MIDIInput::Open);
    in->setCommand(MIDIInput::Start);
    ASSERT_TRUE(jack_->waitForPort("Tandrel:Tandrel"));
    EXPECT_EQ(deviceNames(*in), QStringList{"src:out"});
    EXPECT_EQ(deviceNames(*out), QStringList{"rx:in"});

    // Messages came in and wake-ups were posted, but no event is processed before the port goes.
    ASSERT_TRUE(finishGt3sim(*src, 20s));
    QThread::msleep(100);
    EXPECT_GT(in->MessageCount(), 0);
    in.reset();
    QCoreApplication::processEvents();
    EXPECT_FALSE(raised);
    out.reset();
    EXPECT_TRUE(finishGt3sim(*rx, 20s));
}

}  // namespace
