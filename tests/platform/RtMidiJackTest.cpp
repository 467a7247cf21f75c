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

#include <condition_variable>
#include <cstdio>
#include <functional>
#include <thread>

using namespace tandrel;
using namespace tandrel::testing;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

//! Ends the test program if a test runs past its limit, so a hang is a failure and
//! not a wait for CTest's timeout.
class HangGuard {
public:
    HangGuard(std::chrono::seconds limit, const char* what)
        : thread_([this, limit, what] {
              std::unique_lock lock(mutex_);
              if (!ended_.wait_for(lock, limit, [this] { return done_; })) {
                  std::fprintf(stderr, "HANG: %s did not finish within %lld s\n", what,
                               static_cast<long long>(limit.count()));
                  std::_Exit(3);
              }
          })
    {
    }
    ~HangGuard()
    {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        ended_.notify_all();
        thread_.join();
    }

private:
    std::mutex mutex_;
    std::condition_variable ended_;
    bool done_ = false;
    std::thread thread_;
};

bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    QDeadlineTimer deadline(limit);
    while (!done()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        QThread::msleep(1);
    }
    return true;
}

template <class Port>
int deviceNamed(const Port& port, const QString& name)
{
    auto& p = const_cast<Port&>(port);
    for (std::int16_t id = 0; id < p.DeviceCount(); ++id) {
        p.setDeviceID(id);
        if (p.DeviceName() == name) return id;
    }
    return -1;
}

ByteString readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : ByteString();
}

void writeFile(const QString& path, const ByteString& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes.data(), static_cast<qint64>(bytes.size()));
}

std::vector<ByteString> messagesOf(const ByteString& dump)
{
    std::vector<ByteString> messages;
    for (std::size_t start = 0, end; (end = dump.find('\xF7', start)) != ByteString::npos; start = end + 1)
        messages.push_back(dump.substr(start, end + 1 - start));
    return messages;
}

ByteString generate(const QString& path, const QStringList& options)
{
    auto sim = startGt3sim(QStringList{QStringLiteral("generate"), path} + options);
    EXPECT_TRUE(finishGt3sim(*sim, 30s));
    EXPECT_EQ(sim->exitCode(), 0) << sim->readAllStandardError().toStdString();
    return readFile(path);
}

//! An input port collected the way the main window does: every Message event
//! drains all that waits.
struct Receiver {
    std::unique_ptr<MIDIInput> port = CreateMIDIInput();
    std::vector<ByteString> messages;
    std::size_t bytes = 0;
    std::vector<std::pair<std::int16_t, QString>> errors;
    Clock::time_point first, last;

    Receiver()
    {
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

    //! Runs `gt3sim transmit` of `bytes` as client `name` into a started input port.
    void transmitInto(Receiver& rx, const ByteString& bytes, const QString& name, std::size_t expectMessages)
    {
        const QString path = file("transmit.syx");
        writeFile(path, bytes);
        auto sim = startGt3sim({QStringLiteral("transmit"), path, QStringLiteral("--pacing"), QStringLiteral("fast"),
                                QStringLiteral("--name"), name, QStringLiteral("--wait-ms"), QStringLiteral("20000")});
        ASSERT_TRUE(jack_->waitForPort(name + QStringLiteral(":out"))) << sim->readAllStandardError().toStdString();
        const int id = deviceNamed(*rx.port, name + QStringLiteral(":out"));
        ASSERT_GE(id, 0) << "gt3sim's port is not among the input devices";
        rx.port->setDeviceID(static_cast<std::int16_t>(id));
        rx.port->setCommand(MIDIInput::Open);
        rx.port->setCommand(MIDIInput::Start);
        ASSERT_EQ(rx.port->State(), MIDIInput::Delivering);
        EXPECT_TRUE(waitFor([&] { return rx.messages.size() >= expectMessages; }, 30s))
            << rx.messages.size() << " of " << expectMessages << " messages";
        ASSERT_TRUE(finishGt3sim(*sim, 10s));
        EXPECT_EQ(sim->exitCode(), 0) << sim->readAllStandardError().toStdString();
        waitFor([] { return false; }, 200ms);  // anything extra would show up now
        EXPECT_TRUE(rx.errors.empty()) << rx.errors.front().second.toStdString();
    }

    //! Sends `dump` message by message as the main window does, through an output
    //! port on `device` (−1: Tandrel's own port), to `gt3sim receive`.
    std::map<QString, long long> sendTo(RtMidiOutput& out, const ByteString& dump, std::int16_t device,
                                        const QStringList& receiveOptions, double* seconds)
    {
        std::vector<std::pair<std::int16_t, QString>> errors;
        out.events.Error = [&](std::int16_t code, const QString& text) { errors.emplace_back(code, text); };
        int queueEmpty = 0;
        out.events.QueueEmpty = [&] { ++queueEmpty; };
        // A fresh name each time: JACK renames a client whose name is still taken.
        const QString rx = QStringLiteral("rx%1").arg(++receivers_);
        const QString rxPort = rx + QStringLiteral(":in");
        QStringList args{QStringLiteral("receive"), file("received.syx"), QStringLiteral("--name"), rx,
                         QStringLiteral("--expect-bytes"), QString::number(dump.size())};
        if (device == MIDIOutput::MidiMapper) args << QStringLiteral("--connect") << QStringLiteral("Tandrel:Tandrel");
        auto sim = startGt3sim(args + receiveOptions);
        EXPECT_TRUE(jack_->waitForPort(rxPort)) << sim->readAllStandardError().toStdString();
        out.setDeviceID(device == MIDIOutput::MidiMapper ? device : static_cast<std::int16_t>(deviceNamed(out, rxPort)));
        EXPECT_GE(out.DeviceID(), -1);
        out.setCommand(MIDIOutput::Open);
        EXPECT_EQ(out.State(), MIDIOutput::Opened);
        if (device == MIDIOutput::MidiMapper) {
            EXPECT_EQ(out.DeviceName(), QStringLiteral("Tandrel"));
            EXPECT_TRUE(jack_->waitForPort(QStringLiteral("Tandrel:Tandrel")));
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
        EXPECT_TRUE(errors.empty()) << errors.front().second.toStdString();
        EXPECT_EQ(readFile(file("received.syx")), dump) << "gt3sim received every byte, in order";
        return gt3simSummary(report, QStringLiteral("gt3sim receive:"));
    }

    std::unique_ptr<JackServer> jack_;
    QTemporaryDir dir_;
    int receivers_ = 0;
};

TEST_F(RtMidiJackTest, InputDeliversAWholeDumpByteExactAndInOrder)
{
    HangGuard guard(120s, "receiving a dump");
    const ByteString dump = generate(file("dump.syx"), {QStringLiteral("--size"), QStringLiteral("125000")});
    const std::vector<ByteString> expected = messagesOf(dump);
    ASSERT_GT(expected.size(), 300u);
    Receiver rx;
    rx.port->setSysexBufferSize(125000);
    transmitInto(rx, dump, QStringLiteral("sim"), expected.size());
    EXPECT_EQ(rx.messages.size(), expected.size());
    EXPECT_EQ(rx.bytes, dump.size());
    EXPECT_TRUE(rx.messages == expected) << "every message, byte for byte, in order";
    const double seconds = std::chrono::duration<double>(rx.last - rx.first).count();
    std::printf("[ measured ] input, fast pacing: %zu bytes in %zu messages in %.3f s = %.0f bytes/s\n", rx.bytes,
                rx.messages.size(), seconds, static_cast<double>(rx.bytes) / seconds);
}

TEST_F(RtMidiJackTest, FilterDropsExactlyTheFilteredStatusesRealtimeIncluded)
{
    HangGuard guard(120s, "filtering");
    using B = std::vector<int>;
    const auto bytes = [](const std::vector<B>& parts) {
        ByteString s;
        for (const B& p : parts)
            for (int v : p) s.push_back(static_cast<char>(v));
        return s;
    };
    // A clock tick inside a System Exclusive message, and every kind the start-up filters name.
    const std::vector<B> stream = {{0xF0, 1, 2, 0xF8, 3, 0xF7}, {0x90, 0x40, 0x7F}, {0xF8}, {0xB0, 7, 100}, {0xFE},
                                   {0xC0, 5}, {0xF9}, {0xF0, 0x7E, 0x7F, 6, 1, 0xF7}, {0xE0, 0, 0x40}, {0xFC}};
    struct Case {
        const char* name;
        std::vector<int> dropped;
        std::vector<B> expected;
    };
    const std::vector<Case> cases = {
        {"the start-up filters", {249, 176, 192, 254, 248},
         {{0xF0, 1, 2, 3, 0xF7}, {0x90, 0x40, 0x7F}, {0xF0, 0x7E, 0x7F, 6, 1, 0xF7}, {0xE0, 0, 0x40}, {0xFC}}},
        {"nothing filtered", {},
         {{0xF8}, {0xF0, 1, 2, 3, 0xF7}, {0x90, 0x40, 0x7F}, {0xF8}, {0xB0, 7, 100}, {0xFE}, {0xC0, 5}, {0xF9},
          {0xF0, 0x7E, 0x7F, 6, 1, 0xF7}, {0xE0, 0, 0x40}, {0xFC}}},
        {"System Exclusive filtered", {0xF0},
         {{0xF8}, {0x90, 0x40, 0x7F}, {0xF8}, {0xB0, 7, 100}, {0xFE}, {0xC0, 5}, {0xF9}, {0xE0, 0, 0x40}, {0xFC}}},
    };
    int round = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Receiver rx;
        rx.port->setSysexBufferSize(125000);
        for (int status : c.dropped) rx.port->setFilter(status, true);
        std::vector<ByteString> expected;
        for (const B& e : c.expected) expected.push_back(bytes({e}));
        transmitInto(rx, bytes(stream), QStringLiteral("sim%1").arg(round++), expected.size());
        EXPECT_EQ(rx.messages, expected);
    }
}

TEST_F(RtMidiJackTest, LargeSysexArrivesWholeUpToTheBufferSizeAndInPiecesBeyond)
{
    HangGuard guard(120s, "large System Exclusive messages");
    const std::vector<std::pair<int, std::vector<std::size_t>>> cases = {{20000, {20000}}, {130000, {125000, 5000}}};
    int round = 0;
    for (const auto& [size, pieces] : cases) {
        SCOPED_TRACE(size);
        const ByteString message = generate(file("big.syx"), {QStringLiteral("--size"), QString::number(size),
                                                              QStringLiteral("--block"), QStringLiteral("1000000")});
        ASSERT_EQ(messagesOf(message).size(), 1u);
        Receiver rx;
        rx.port->setSysexBufferSize(125000);
        transmitInto(rx, message, QStringLiteral("big%1").arg(round++), pieces.size());
        std::vector<std::size_t> sizes;
        ByteString joined;
        for (const ByteString& m : rx.messages) {
            sizes.push_back(m.size());
            joined += m;
        }
        EXPECT_EQ(sizes, pieces);
        EXPECT_TRUE(joined == message) << "nothing lost between the pieces";
    }
}

TEST_F(RtMidiJackTest, OutputSendsAWholeDumpAtFastPacingWithNothingLost)
{
    HangGuard guard(120s, "sending a dump");
    const ByteString dump = generate(file("dump.syx"), {QStringLiteral("--size"), QStringLiteral("125000")});
    // More than JACK carries in one event (RtMidi drops those without a word): it goes in pieces.
    const ByteString big = generate(file("big.syx"), {QStringLiteral("--size"), QStringLiteral("40000"),
                                                      QStringLiteral("--block"), QStringLiteral("1000000")});
    struct Case {
        const char* name;
        const ByteString& bytes;
        std::int16_t device;
    };
    for (const Case& c : {Case{"a dump to a device", dump, 0}, Case{"a dump to the virtual port", dump, MIDIOutput::MidiMapper},
                          Case{"one 40000-byte message", big, 0}}) {
        SCOPED_TRACE(c.name);
        RtMidiOutput out;
        out.setPacing(OutputPacer::Mode::Fast);
        double seconds = 0;
        auto report = sendTo(out, c.bytes, c.device, {}, &seconds);
        EXPECT_EQ(report[QStringLiteral("messages")], static_cast<long long>(messagesOf(c.bytes).size()));
        EXPECT_EQ(report[QStringLiteral("bytes")], static_cast<long long>(c.bytes.size()));
        EXPECT_EQ(report[QStringLiteral("checksum_errors")], 0);
        EXPECT_EQ(report[QStringLiteral("framing_errors")], 0);
        EXPECT_EQ(report[QStringLiteral("lost")], 0);
        std::printf("[ measured ] output, fast pacing, %s: %zu bytes in %.3f s = %.0f bytes/s\n", c.name, c.bytes.size(),
                    seconds, static_cast<double>(c.bytes.size()) / seconds);
        out.setCommand(MIDIOutput::Close);
        EXPECT_EQ(out.State(), MIDIOutput::Closed);
    }
}

TEST_F(RtMidiJackTest, DinPacingKeepsAtLeastThePauseBetweenMessages)
{
    HangGuard guard(120s, "DIN pacing");
    const ByteString dump = generate(file("dump.syx"), {QStringLiteral("--size"), QStringLiteral("4000")});
    const std::size_t count = messagesOf(dump).size();
    for (const int pauseMs : {20, 45}) {
        SCOPED_TRACE(pauseMs);
        RtMidiOutput out;
        ASSERT_EQ(out.pacing(), OutputPacer::Mode::Din) << "DIN is the default";
        out.setPause(std::chrono::milliseconds(pauseMs));
        double seconds = 0;
        auto report = sendTo(out, dump, 0, {QStringLiteral("--min-pause-ms"), QString::number(pauseMs)}, &seconds);
        EXPECT_EQ(report[QStringLiteral("short_pauses")], 0);
        EXPECT_GE(report[QStringLiteral("min_pause_us")], pauseMs * 1000);
        // The wire model: 320 µs a byte, and the pause between messages.
        const double model = (static_cast<double>(dump.size()) * 320 + static_cast<double>(count - 1) * pauseMs * 1000) / 1e6;
        const double wire = static_cast<double>(report[QStringLiteral("wire_span_us")]) / 1e6;
        EXPECT_GE(wire, model);
        EXPECT_LT(wire, model * 2 + 1) << "pacing adds no more than it must";
        std::printf("[ measured ] DIN pacing, pause %d ms: %zu bytes in %zu messages took %.3f s on the wire "
                    "(model %.3f s, +%.1f%%); smallest pause %.1f ms\n",
                    pauseMs, dump.size(), count, wire, model, (wire / model - 1) * 100,
                    static_cast<double>(report[QStringLiteral("min_pause_us")]) / 1000);
    }
}

TEST_F(RtMidiJackTest, OwnPortsAreNeverListedAndAPortMayGoWithAWakeUpPending)
{
    HangGuard guard(60s, "listing devices");
    auto rx = startGt3sim({QStringLiteral("receive"), file("received.syx"), QStringLiteral("--name"), QStringLiteral("rx"),
                           QStringLiteral("--timeout-ms"), QStringLiteral("3000")});
    const ByteString dump = generate(file("dump.syx"), {QStringLiteral("--size"), QStringLiteral("3000")});
    auto src = startGt3sim({QStringLiteral("transmit"), file("dump.syx"), QStringLiteral("--name"), QStringLiteral("src"),
                            QStringLiteral("--pacing"), QStringLiteral("fast"), QStringLiteral("--delay-ms"),
                            QStringLiteral("1500")});
    ASSERT_TRUE(jack_->waitForPort(QStringLiteral("rx:in")));
    ASSERT_TRUE(jack_->waitForPort(QStringLiteral("src:out")));
    auto in = CreateMIDIInput();
    auto out = CreateMIDIOutput();
    out->setDeviceID(MIDIOutput::MidiMapper);
    out->setCommand(MIDIOutput::Open);
    in->setDeviceID(static_cast<std::int16_t>(deviceNamed(*in, QStringLiteral("src:out"))));
    bool raised = false;
    in->events.Message = [&] { raised = true; };
    in->setCommand(MIDIInput::Open);
    in->setCommand(MIDIInput::Start);
    ASSERT_TRUE(jack_->waitForPort(QStringLiteral("Tandrel:Tandrel")));
    const auto names = [](auto& port) {
        QStringList list;
        for (std::int16_t id = 0; id < port.DeviceCount(); ++id) {
            port.setDeviceID(id);
            list << port.DeviceName();
        }
        return list;
    };
    EXPECT_EQ(names(*in), QStringList{QStringLiteral("src:out")});
    EXPECT_EQ(names(*out), QStringList{QStringLiteral("rx:in")});

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
    HangGuard guard(90s, "a send through a dying JACK server");
    const ByteString dump = generate(file("dump.syx"), {QStringLiteral("--size"), QStringLiteral("125000")});
    auto rx = startGt3sim({QStringLiteral("receive"), file("received.syx"), QStringLiteral("--name"), QStringLiteral("rx"),
                           QStringLiteral("--timeout-ms"), QStringLiteral("60000")});
    auto src = startGt3sim({QStringLiteral("transmit"), file("dump.syx"), QStringLiteral("--name"), QStringLiteral("src"),
                            QStringLiteral("--wait-ms"), QStringLiteral("60000")});
    ASSERT_TRUE(jack_->waitForPort(QStringLiteral("rx:in")));
    ASSERT_TRUE(jack_->waitForPort(QStringLiteral("src:out")));
    {
        Receiver in;
        in.port->setDeviceID(static_cast<std::int16_t>(deviceNamed(*in.port, QStringLiteral("src:out"))));
        in.port->setCommand(MIDIInput::Open);
        in.port->setCommand(MIDIInput::Start);
        RtMidiOutput out;  // DIN pacing: the send would take most of a minute
        std::vector<std::int16_t> codes;
        out.events.Error = [&](std::int16_t code, const QString&) { codes.push_back(code); };
        out.setDeviceID(static_cast<std::int16_t>(deviceNamed(out, QStringLiteral("rx:in"))));
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
        for (std::int16_t c : codes)
            if (c != 0 && c != 8) shown.push_back(c);
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
