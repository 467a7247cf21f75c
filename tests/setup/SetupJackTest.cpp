// SPDX-License-Identifier: GPL-3.0-or-later
// The real ports through a private JACK server: the ports chosen in Setup are found again by name at the
// next start, where other ports registered first, and carry the Receive (AlsaTransfer in tests/alsa makes
// the whole trip on devices chosen in Setup, and the demo's test the window's over JACK).
#include "app/frmMain.h"
#include "platform/MidiPorts.h"
#include "platform/QtServices.h"
#include "platform/testing/FakeServices.h"
#include "setup/MIDISetupForm.h"
#include "setup/PortOpening.h"
#include "setup/SettingsKeys.h"
#include "support/JackServer.h"

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

using namespace tandrel;
using namespace tandrel::testing;
using namespace std::chrono_literals;

TEST(SetupJack, ThePortsChosenInSetupAreFoundByNameAtTheNextStartAndCarryTheReceive)
{
    if (!JackServer::installed())
        GTEST_SKIP() << "jackd2 tools (jackd, jack_lsp, jack_connect) are not installed";
    ASSERT_FALSE(gt3simPath().isEmpty()) << "gt3sim is not built";
    JackServer jack;
    ASSERT_TRUE(jack.ok()) << jack.error().toStdString();
    QTemporaryDir dir;
    const auto path = [&](const char* name) { return dir.filePath(QString::fromLatin1(name)); };
    const QByteArray dump = generateDump(path("dump.syx"), 6000);
    ASSERT_FALSE(dump.isEmpty() || generateDump(path("decoy.syx"), 3000, 7).isEmpty());
    // The device transmits only once "trigger:in" appears, after the input has settled.
    const auto device = [&] {
        return startGt3sim({"transmit", path("dump.syx"), "--pacing", "fast", "--name", "gt3out", "--connect",
                            "trigger:in", "--wait-ms", "300000"});
    };
    const auto deviceIn = [&] { return startGt3sim({"receive", path("sent.syx"), "--name", "gt3in", "--timeout-ms", "300000"}); };
    QSettingsStore settings(path("settings.ini"));
    FakeServices fake;
    fake.loop.processQtEvents = true;
    int inAt = -1;
    {
        // First start: decoys JACK lists first, and the device's ports; the dialog chooses the device's.
        auto decoyOut = startGt3sim({"transmit", path("dump.syx"), "--name", "decoyout", "--connect", "nobody:in",
                                     "--wait-ms", "300000"});
        auto decoyIn = startGt3sim({"receive", path("decoy.syx"), "--name", "decoyin", "--timeout-ms", "300000"});
        ASSERT_TRUE(jack.waitForPort("decoyout:out") && jack.waitForPort("decoyin:in"));
        auto gt3Out = device();
        auto gt3In = deviceIn();
        ASSERT_TRUE(jack.waitForPort("gt3out:out") && jack.waitForPort("gt3in:in"));
        const auto in = CreateMIDIInput();
        const auto out = CreateMIDIOutput();
        Services services{*in, *out, fake.dialog, fake.boxes, settings, fake.folders, fake.beeper, fake.loop};
        DumpState MAIN;
        frmMain main(services, MAIN);
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<MIDISetupForm*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            inAt = dialog->cmbMIDIInDevice->findText("gt3out:out");
            const int outAt = dialog->cmbMIDIOutDevice->findText("gt3in:in");
            EXPECT_GE(dialog->cmbMIDIInDevice->findText("decoyout:out"), 0);
            EXPECT_GE(dialog->cmbMIDIOutDevice->findText("decoyin:in"), 0);
            EXPECT_GE(outAt, 0) << "gt3sim's input listed by name";
            dialog->cmbMIDIInDevice->setCurrentIndex(inAt);
            dialog->cmbMIDIOutDevice->setCurrentIndex(outAt);
            dialog->cmdSet->click();
        });
        main.Form_Load();
        ASSERT_GE(inAt, 0) << "gt3sim's output listed by name";
        EXPECT_EQ(out->DeviceName(), "gt3in:in");
    }
    ASSERT_TRUE(runEventsUntil([&] { return !jack.ports().join(' ').contains("gt3"); }, 10s));

    // Next start: decoys that send a dump of their own to whoever listens register before the device.
    auto decoy1 = startGt3sim({"transmit", path("decoy.syx"), "--pacing", "fast", "--name", "decoy1", "--wait-ms",
                               "300000"});
    auto decoy2 = startGt3sim({"transmit", path("decoy.syx"), "--pacing", "fast", "--name", "decoy2", "--wait-ms",
                               "300000"});
    ASSERT_TRUE(jack.waitForPort("decoy1:out") && jack.waitForPort("decoy2:out"));
    auto gt3Out = device();
    auto gt3In = deviceIn();
    ASSERT_TRUE(jack.waitForPort("gt3out:out") && jack.waitForPort("gt3in:in"));
    const auto in = CreateMIDIInput();
    const auto out = CreateMIDIOutput();
    const QStringList listed = ListDevices(*in, 0);
    const int nextAt = int(listed.indexOf("gt3out:out"));
    ASSERT_NE(nextAt, inAt) << "the device is listed where it was: " << listed.join(", ").toStdString();
    Services services{*in, *out, fake.dialog, fake.boxes, settings, fake.folders, fake.beeper, fake.loop};
    DumpState MAIN;
    frmMain main(services, MAIN);
    main.Form_Load();
    EXPECT_EQ(settings.read(settings::kMIDIInputDeviceID, {}).toStdString(),
              settings::SignedText(nextAt).toStdString());  // the stored number follows the device
    EXPECT_EQ(out->DeviceName(), "gt3in:in");
    main.cmdReceive_Click();
    auto trigger = startGt3sim({"receive", path("trigger.syx"), "--name", "trigger", "--expect-bytes",
                                QString::number(dump.size())});
    ASSERT_TRUE(finishGt3sim(*gt3Out, 60s));
    runEventsUntil([&] { return MAIN.lByteCount >= dump.size(); }, 30s);
    EXPECT_EQ(QByteArray::fromStdString(MAIN.sSysexData), dump);
    std::erase_if(fake.boxes.boxes, [&](const auto& box) { return jack.xrunExplains(box.prompt); });
    EXPECT_TRUE(fake.boxes.boxes.empty()) << fake.boxes.boxes.front().prompt.toStdString();
}
