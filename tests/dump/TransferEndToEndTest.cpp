// SPDX-License-Identifier: GPL-3.0-or-later
// Receive, Save, Open and Send through a private JACK server, with gt3sim as the GT-3.
#include "dump/DumpWindow.h"
#include "platform/MidiPorts.h"
#include "platform/QtServices.h"
#include "support/JackServer.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

using namespace tandrel;
using namespace tandrel::testing;
using namespace std::chrono_literals;

namespace {

//! Runs the event loop until `done` or the deadline; true when done.
bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    for (const QDeadlineTimer deadline(limit); !done(); QCoreApplication::processEvents(QEventLoop::AllEvents, 20))
        if (deadline.hasExpired())
            return false;
    return true;
}

template <typename Port>
std::int16_t deviceNamed(Port& port, std::int16_t first, const QString& client)
{
    for (std::int16_t id = first; id < port.DeviceCount(); ++id) {
        port.setDeviceID(id);
        if (port.DeviceName().contains(client))
            return id;
    }
    return -2;
}

}  // namespace

TEST(TransferEndToEnd, ReceiveSaveOpenSendThroughJack)
{
    if (!JackServer::installed())
        GTEST_SKIP() << "jackd2 tools (jackd, jack_lsp, jack_connect) are not installed";
    ASSERT_FALSE(gt3simPath().isEmpty()) << "gt3sim is not built in TANDREL_BUILD_DIR";
    QTemporaryDir dir;
    const QString generated = dir.filePath("gt3.syx"), saved = dir.filePath("saved.syx"), heard = dir.filePath("heard.syx");
    auto gen = startGt3sim({"generate", generated, "--seed", "7"});
    ASSERT_TRUE(finishGt3sim(*gen, 30s) && gen->exitCode() == 0) << gen->readAllStandardError().toStdString();
    const ByteString dump = fileBytes(generated);
    const auto messages = std::count(dump.begin(), dump.end(), '\xF7');
    ASSERT_GT(messages, 1);

    // Both ends at full speed: the transfer is under test, not the pacing.
    qputenv("TANDREL_MIDI_PACING", "fast");
    JackServer jack;
    ASSERT_TRUE(jack.ok()) << jack.error().toStdString();

    QSettingsStore settings;  // real, so written fresh: a previous run's devices must not count
    for (const auto& [key, value] : {std::pair{settings::kUserSetup, QString("1")}, {settings::kMIDIInputDeviceID, " 0"},
                                     {settings::kMIDIOutputDeviceID, " 0"}, {settings::kUserFolder, dir.path()}})
        settings.write(key, value);
    const auto in = CreateMIDIInput();
    const auto out = CreateMIDIOutput();
    FakeServices fake;  // only for the file dialog and the message boxes
    QtFolderBrowser folders;
    QtBeeper beeper;
    QtEventLoop loop;
    Services services{*in, *out, fake.dialog, fake.boxes, settings, folders, beeper, loop};
    DumpState MAIN;
    frmMain w(services, MAIN);
    w.Form_Load();
    w.show();
    pumpUntil([] { return false; }, 300ms);  // start-up may report the missing devices
    fake.boxes.boxes.clear();

    // 1. The GT-3 appears and transmits while Receive listens.
    auto tx = startGt3sim({"transmit", generated, "--pacing", "fast", "--name", "gt3tx", "--wait-ms", "60000"});
    ASSERT_TRUE(jack.waitForPort("gt3tx:out"));
    ASSERT_GE(deviceNamed(*in, 0, "gt3tx"), 0);
    w.cmdReceive->click();
    ASSERT_TRUE(pumpUntil([&] { return tx->state() == QProcess::NotRunning && MAIN.sSysexData.size() >= dump.size(); }, 60s))
        << MAIN.sSysexData.size() << " of " << dump.size() << " bytes";
    EXPECT_EQ(tx->exitCode(), 0) << tx->readAllStandardError().toStdString();
    pumpUntil([] { return false; }, 200ms);  // nothing more may come
    ASSERT_EQ(MAIN.sSysexData.size(), dump.size());
    EXPECT_TRUE(MAIN.sSysexData == dump);
    EXPECT_EQ(w.statusText(), QString("Received %1 bytes; Save").arg(dump.size()));

    // 2. Save writes it unchanged.
    fake.dialog.willChoose(saved);
    w.cmdSave->click();
    EXPECT_TRUE(fileBytes(saved) == dump);

    // 3. Open reads it back and reopens the output on the stored device.
    auto rx = startGt3sim({"receive", heard, "--name", "gt3rx", "--expect-messages", QString::number(messages),
                           "--timeout-ms", "60000"});
    ASSERT_TRUE(jack.waitForPort("gt3rx:in"));
    const std::int16_t sink = deviceNamed(*out, -1, "gt3rx");
    ASSERT_GE(sink, 0);
    settings.write(settings::kMIDIOutputDeviceID, settings::SignedText(sink));
    fake.dialog.willChoose(saved);
    w.cmdOpen->click();
    EXPECT_TRUE(MAIN.sSysexData == dump);
    EXPECT_EQ(w.statusText(), " /saved.syx open\r  Set GT-3 to receive; click Send to transmit.");

    // 4. Send delivers every message, in order, to the GT-3.
    w.cmdSend->click();
    EXPECT_EQ(w.statusText(), "Sent sysex to GT-3--ready to Receive or Open");
    ASSERT_TRUE(pumpUntil([&] { return rx->state() == QProcess::NotRunning; }, 60s));
    const QString report = QString::fromLocal8Bit(rx->readAllStandardOutput());
    EXPECT_EQ(rx->exitCode(), 0) << report.toStdString() << rx->readAllStandardError().toStdString();
    const auto summary = gt3simSummary(report, "gt3sim receive:");
    EXPECT_EQ(summary.at("messages"), messages);
    EXPECT_EQ(summary.at("checksum_errors"), 0);
    EXPECT_EQ(summary.at("framing_errors"), 0);
    EXPECT_TRUE(fileBytes(heard) == dump);

    std::erase_if(fake.boxes.boxes, [&](const auto& box) { return jack.xrunExplains(box.prompt); });
    EXPECT_TRUE(fake.boxes.boxes.empty()) << fake.boxes.boxes.front().prompt.toStdString();
}
