// SPDX-License-Identifier: GPL-3.0-or-later
// The production MIDI ports through a real transport: a private JACK server, with
// gt3sim playing the GT-3 at the other end. Each test prints what it measured.
#include "platform/MidiErrors.h"
#include "platform/MidiPorts.h"
#include "platform/RtMidiOutput.h"
#include "support/JackServer.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <tuple>

#include <unistd.h>

using namespace tandrel;
using namespace tandrel::testing;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

//! Ends the program when a test overruns (SIGALRM), so a hang fails at once instead of at CTest's timeout.
struct HangGuard {
    explicit HangGuard(unsigned seconds) { alarm(seconds); }
    ~HangGuard() { alarm(0); }
};

bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    QDeadlineTimer deadline(limit);
    for (; !done(); QThread::msleep(1)) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
    return true;
}

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

ByteString readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : ByteString();
}

std::vector<ByteString> messagesOf(const ByteString& dump)
{
    std::vector<ByteString> messages;
    for (std::size_t start = 0, end; (end = dump.find('\xF7', start)) != ByteString::npos; start = end + 1)
        messages.push_back(dump.substr(start, end + 1 - start));
    return messages;
}

ByteString bytes(const std::vector<int>& b)
{
    return ByteString(b.begin(), b.end());
}

//! An input port collected the way the main window does: every Message event drains all that waits.
struct Receiver {
    std::unique_ptr<MIDIInput> port = CreateMIDIInput();
    std::vector<ByteString> messages;
    std::size_t bytes = 0;
    std::vector<std::pair<std::int16_t, QString>> errors;
    Clock::time_point first, last;

    Receiver()
    {
        port->setSysexBufferSize(125000);
        port->events.Message = [this] {
            while (!port->MessageData().empty() && port->MessageCount() > 0) {
                messages.push_back(port->MessageData());
                bytes += messages.back().size();
                port->setCommand(MIDIInput::DiscardOldest);
                last = Clock::now();
                if (messages.size() == 1) first = last;
            }
        };
        port->events.Error = [this](std::int16_t code, const QString& text) { errors.emplace_back(code, text); };
    }
    void open(const QString& device)
    {
        port->setDeviceID(deviceNamed(*port, device));
        port->setCommand(MIDIInput::Open);
        port->setCommand(MIDIInput::Start);
    }
};

class RtMidiJackTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!JackServer::installed()) GTEST_SKIP() << "jackd2 is not installed: no transport to test through";
        ASSERT_FALSE(gt3simPath().isEmpty()) << "gt3sim is not built";
        jack_ = std::make_unique<JackServer>();
        ASSERT_TRUE(jack_->ok()) << jack_->error().toStdString();
        ASSERT_TRUE(dir_.isValid());
    }
    void TearDown() override { jack_.reset(); }

    QString file(const char* name) const { return dir_.filePath(QString::fromLatin1(name)); }

    //! A gt3sim dump of `size` bytes in file `name`; `whole`: one message.
    ByteString generate(const char* name, int size, bool whole = false)
    {
        QStringList args{"generate", file(name), "--size", QString::number(size)};
        if (whole) args << "--block" << "1000000";
        auto sim = startGt3sim(args);
        EXPECT_TRUE(finishGt3sim(*sim, 30s));
        EXPECT_EQ(sim->exitCode(), 0) << sim->readAllStandardError().toStdString();
        return readFile(file(name));
    }

    //! Runs `gt3sim transmit` of `data` as client `name` into a fresh input port.
    void transmitInto(Receiver& rx, const ByteString& data, const QString& name, std::size_t expectMessages)
    {
        QFile f(file("transmit.syx"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(data.data(), static_cast<qint64>(data.size()));
        f.close();
        auto sim = startGt3sim({"transmit", f.fileName(), "--pacing", "fast", "--name", name, "--wait-ms", "20000"});
        ASSERT_TRUE(jack_->waitForPort(name + ":out")) << sim->readAllStandardError().toStdString();
        rx.open(name + ":out");
        ASSERT_EQ(rx.port->State(), MIDIInput::Delivering);
        EXPECT_TRUE(waitFor([&] { return rx.messages.size() >= expectMessages; }, 30s))
            << rx.messages.size() << " of " << expectMessages << " messages";
        ASSERT_TRUE(finishGt3sim(*sim, 10s));
        EXPECT_EQ(sim->exitCode(), 0) << sim->readAllStandardError().toStdString();
        waitFor([] { return false; }, 200ms);  // anything extra would show up now
        EXPECT_TRUE(rx.errors.empty()) << rx.errors.front().second.toStdString();
    }

    //! Sends `dump` message by message as the main window does, on `device`
    //! (−1: Tandrel's own port), to `gt3sim receive`; checks every byte arrived.
    std::map<QString, long long> sendTo(RtMidiOutput& out, const ByteString& dump, std::int16_t device,
                                        const QStringList& receiveOptions, double* seconds)
    {
        std::vector<QString> errors;
        out.events.Error = [&](std::int16_t, const QString& text) { errors.push_back(text); };
        int queueEmpty = 0;
        out.events.QueueEmpty = [&] { ++queueEmpty; };
        // A fresh name each time: JACK renames a client whose name is still taken.
        const QString rx = QStringLiteral("rx%1").arg(++receivers_);
        QStringList args{"receive", file("received.syx"), "--name", rx, "--expect-bytes", QString::number(dump.size())};
        const bool mapper = device == MIDIOutput::MidiMapper;
        if (mapper) args << "--connect" << "Tandrel:Tandrel";
        auto sim = startGt3sim(args + receiveOptions);
        EXPECT_TRUE(jack_->waitForPort(rx + ":in")) << sim->readAllStandardError().toStdString();
        out.setDeviceID(mapper ? device : deviceNamed(out, rx + ":in"));
        EXPECT_GE(out.DeviceID(), -1);
        out.setCommand(MIDIOutput::Open);
        EXPECT_EQ(out.State(), MIDIOutput::Opened);
        if (mapper) {
            EXPECT_EQ(out.DeviceName(), QStringLiteral("Tandrel"));
            EXPECT_TRUE(jack_->waitForPort("Tandrel:Tandrel"));
            waitFor([] { return false; }, 300ms);  // gt3sim connects to it
        }
        const Clock::time_point start = Clock::now();
        std::size_t sent = 0;
        for (const ByteString& m : messagesOf(dump)) {
            out.setMessageStatus(240);
            out.setMessageData(m);
            out.setCommand(MIDIOutput::Transmit);
            sent += out.MessageData().size();
            out.setMessageData({});
            QCoreApplication::processEvents();
        }
        *seconds = std::chrono::duration<double>(Clock::now() - start).count();
        EXPECT_EQ(sent, dump.size());
        EXPECT_TRUE(waitFor([&] { return queueEmpty > 0; }, 5s)) << "QueueEmpty after the last message";
        EXPECT_TRUE(finishGt3sim(*sim, 60s));
        const QString report = QString::fromLocal8Bit(sim->readAllStandardOutput());
        EXPECT_EQ(sim->exitCode(), 0) << report.toStdString() << sim->readAllStandardError().toStdString();
        EXPECT_TRUE(errors.empty()) << errors.front().toStdString();
        EXPECT_EQ(readFile(file("received.syx")), dump) << "gt3sim received every byte, in order";
        return gt3simSummary(report, QStringLiteral("gt3sim receive:"));
    }

    std::unique_ptr<JackServer> jack_;
    QTemporaryDir dir_;
    int receivers_ = 0;
};

TEST_F(RtMidiJackTest, InputDeliversEveryMessageByteExactFilteredAndCutOnlyBeyondTheBuffer)
{
    HangGuard guard(240);
    const ByteString dump = generate("dump.syx", 125000);
    ASSERT_GT(messagesOf(dump).size(), 300u);
    const ByteString whole = generate("whole.syx", 20000, true);
    const ByteString big = generate("big.syx", 130000, true);
    // A clock tick inside a System Exclusive message, and every kind the start-up filters name.
    const ByteString mixed = bytes({0xF0, 1, 2, 0xF8, 3, 0xF7, 0x90, 0x40, 0x7F, 0xF8, 0xB0, 7, 100, 0xFE, 0xC0, 5, 0xF9,
                                    0xF0, 0x7E, 0x7F, 6, 1, 0xF7, 0xE0, 0, 0x40, 0xFC});
    const auto each = [](const std::vector<std::vector<int>>& parts) {
        std::vector<ByteString> out;
        for (const auto& p : parts) out.push_back(bytes(p));
        return out;
    };
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
         each({{0xF0, 1, 2, 3, 0xF7}, {0x90, 0x40, 0x7F}, {0xF0, 0x7E, 0x7F, 6, 1, 0xF7}, {0xE0, 0, 0x40}, {0xFC}})},
        {"System Exclusive filtered", mixed, {0xF0},
         each({{0xF8}, {0x90, 0x40, 0x7F}, {0xF8}, {0xB0, 7, 100}, {0xFE}, {0xC0, 5}, {0xF9}, {0xE0, 0, 0x40}, {0xFC}})},
    };
    int round = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Receiver rx;
        for (int status : c.dropped) rx.port->setFilter(status, true);
        transmitInto(rx, c.stream, QStringLiteral("sim%1").arg(round++), c.expected.size());
        std::size_t total = 0;
        for (const ByteString& m : c.expected) total += m.size();
        EXPECT_EQ(rx.messages.size(), c.expected.size());
        EXPECT_EQ(rx.bytes, total);
        EXPECT_TRUE(rx.messages == c.expected) << "every message, byte for byte, in order";
        if (&c != &cases.front()) continue;
        const double seconds = std::chrono::duration<double>(rx.last - rx.first).count();
        std::printf("[ measured ] input, fast pacing: %zu bytes in %zu messages in %.3f s = %.0f bytes/s\n", rx.bytes,
                    rx.messages.size(), seconds, static_cast<double>(rx.bytes) / seconds);
    }
}

TEST_F(RtMidiJackTest, OutputSendsAWholeDumpAtFastPacingWithNothingLost)
{
    HangGuard guard(120);
    const ByteString dump = generate("dump.syx", 125000);
    // More than JACK carries in one event (RtMidi drops those without a word): it goes in pieces.
    const ByteString big = generate("big.syx", 40000, true);
    const std::vector<std::tuple<const char*, const ByteString*, std::int16_t>> cases = {
        {"a dump to a device", &dump, 0}, {"a dump to the virtual port", &dump, MIDIOutput::MidiMapper},
        {"one 40000-byte message", &big, 0}};
    for (const auto& [name, data, device] : cases) {
        SCOPED_TRACE(name);
        RtMidiOutput out;
        out.setPacing(OutputPacer::Mode::Fast);
        double seconds = 0;
        auto report = sendTo(out, *data, device, {}, &seconds);
        EXPECT_EQ(report["messages"], static_cast<long long>(messagesOf(*data).size()));
        EXPECT_EQ(report["bytes"], static_cast<long long>(data->size()));
        for (const char* none : {"checksum_errors", "framing_errors", "lost"}) EXPECT_EQ(report[none], 0) << none;
        std::printf("[ measured ] output, fast pacing, %s: %zu bytes in %.3f s = %.0f bytes/s\n", name, data->size(),
                    seconds, static_cast<double>(data->size()) / seconds);
        out.setCommand(MIDIOutput::Close);
        EXPECT_EQ(out.State(), MIDIOutput::Closed);
    }
}

TEST_F(RtMidiJackTest, DinPacingKeepsAtLeastThePauseBetweenMessages)
{
    HangGuard guard(120);
    const ByteString dump = generate("dump.syx", 4000);
    const std::size_t count = messagesOf(dump).size();
    for (const int pauseMs : {20, 45}) {
        SCOPED_TRACE(pauseMs);
        RtMidiOutput out;
        ASSERT_EQ(out.pacing(), OutputPacer::Mode::Din) << "DIN is the default";
        out.setPause(std::chrono::milliseconds(pauseMs));
        double seconds = 0;
        auto report = sendTo(out, dump, 0, {"--min-pause-ms", QString::number(pauseMs)}, &seconds);
        EXPECT_EQ(report["short_pauses"], 0);
        EXPECT_GE(report["min_pause_us"], pauseMs * 1000);
        // The wire model: 320 µs a byte, and the pause between messages.
        const double model = (static_cast<double>(dump.size()) * 320 + static_cast<double>(count - 1) * pauseMs * 1000) / 1e6;
        const double wire = static_cast<double>(report["wire_span_us"]) / 1e6;
        EXPECT_GE(wire, model);
        EXPECT_LT(wire, model * 2 + 1) << "pacing adds no more than it must";
        std::printf("[ measured ] DIN pacing, pause %d ms: %zu bytes in %zu messages took %.3f s on the wire "
                    "(model %.3f s, +%.1f%%); smallest pause %.1f ms\n",
                    pauseMs, dump.size(), count, wire, model, (wire / model - 1) * 100,
                    static_cast<double>(report["min_pause_us"]) / 1000);
    }
}

TEST_F(RtMidiJackTest, OwnPortsAreNeverListedAndAPortMayGoWithAWakeUpPending)
{
    HangGuard guard(60);
    auto rx = startGt3sim({"receive", file("received.syx"), "--name", "rx", "--timeout-ms", "3000"});
    generate("dump.syx", 3000);
    auto src = startGt3sim({"transmit", file("dump.syx"), "--name", "src", "--pacing", "fast", "--delay-ms", "1500"});
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
    EXPECT_EQ(src->exitCode(), 0);
    QThread::msleep(100);
    EXPECT_GT(in->MessageCount(), 0);
    in.reset();
    QCoreApplication::processEvents();
    EXPECT_FALSE(raised);
    out.reset();
    EXPECT_TRUE(finishGt3sim(*rx, 20s));
}

TEST_F(RtMidiJackTest, AServerKilledDuringASendRaisesAnErrorAndNothingHangs)
{
    HangGuard guard(90);
    const ByteString dump = generate("dump.syx", 125000);
    auto rx = startGt3sim({"receive", file("received.syx"), "--name", "rx", "--timeout-ms", "60000"});
    auto src = startGt3sim({"transmit", file("dump.syx"), "--name", "src", "--wait-ms", "60000"});
    ASSERT_TRUE(jack_->waitForPort("rx:in") && jack_->waitForPort("src:out"));
    {
        Receiver in;
        in.open("src:out");
        RtMidiOutput out;  // DIN pacing: the send would take most of a minute
        std::vector<std::int16_t> codes;
        out.events.Error = [&](std::int16_t code, const QString&) { codes.push_back(code); };
        out.setDeviceID(deviceNamed(out, "rx:in"));
        out.setCommand(MIDIOutput::Open);
        ASSERT_EQ(out.State(), MIDIOutput::Opened);
        waitFor([&] { return !in.errors.empty(); }, 100ms);
        ASSERT_EQ(in.port->State(), MIDIInput::Delivering) << (in.errors.empty() ? "" : in.errors[0].second.toStdString());

        QTimer::singleShot(400ms, [this] { jack_->kill(); });
        Clock::time_point killed;
        int handed = 0;
        for (const ByteString& m : messagesOf(dump)) {
            out.setMessageData(m);
            out.setCommand(MIDIOutput::Transmit);
            out.setMessageData({});
            QCoreApplication::processEvents();
            if (!jack_->running() && killed == Clock::time_point()) killed = Clock::now();
            ++handed;
        }
        ASSERT_FALSE(jack_->running()) << "the send ended before the server was killed";
        const double after = std::chrono::duration<double>(Clock::now() - killed).count();
        EXPECT_LT(after, 10.0) << "the rest of the send went by without waiting on the dead server";
        waitFor([&] { return !codes.empty() && !in.errors.empty(); }, 5s);
        for (const auto& e : in.errors) codes.push_back(e.first);
        std::vector<std::int16_t> shown;
        std::copy_if(codes.begin(), codes.end(), std::back_inserter(shown), [](std::int16_t c) { return c != 0 && c != 8; });
        EXPECT_EQ(shown, std::vector<std::int16_t>{code(MidiError::ServerStopped)})
            << "one message box for both ports, not one per message";
        EXPECT_EQ(out.State(), MIDIOutput::Closed);
        EXPECT_EQ(in.port->State(), MIDIInput::Closed);
        std::printf("[ measured ] server killed during a send: %d messages handed over, the send ended %.3f s after\n",
                    handed, after);
    }  // the ports go while their server is dead
    for (QProcess* sim : {rx.get(), src.get()}) {
        EXPECT_TRUE(finishGt3sim(*sim, 10s)) << "gt3sim notices the server's end";
        EXPECT_NE(sim->exitCode(), 0) << "and says it failed";
    }
}

}  // namespace
