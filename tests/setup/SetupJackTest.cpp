// SPDX-License-Identifier: GPL-3.0-or-later
// The first start on the real ports, through a private JACK server: the setup
// dialog lists gt3sim's ports by name, and the ports chosen there are the ones a
// following Receive takes its dump from and a Send delivers to.
#include "app/frmMain.h"
#include "platform/MidiPorts.h"
#include "platform/QtServices.h"
#include "platform/testing/FakeServices.h"
#include "setup/MIDISetupForm.h"
#include "setup/SettingsKeys.h"
#include "support/JackServer.h"

#include <QApplication>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

using namespace tandrel;
using namespace tandrel::testing;
using namespace std::chrono_literals;

namespace {

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool spinUntil(const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    const QDeadlineTimer deadline(limit);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

QStringList items(const QComboBox& list)
{
    QStringList names;
    for (int i = 0; i < list.count(); ++i)
        names << list.itemText(i);
    return names;
}

TEST(SetupJack, ThePortsChosenAtFirstStartCarryTheReceiveAndTheSend)
{
    if (!JackServer::installed())
        GTEST_SKIP() << "jackd2 tools (jackd, jack_lsp, jack_connect) are not installed";
    ASSERT_FALSE(gt3simPath().isEmpty()) << "gt3sim is not built";
    JackServer jack;
    ASSERT_TRUE(jack.ok()) << jack.error().toStdString();
    QTemporaryDir dir;
    auto path = [&](const char* name) { return dir.filePath(QString::fromLatin1(name)); };

    ASSERT_TRUE(finishGt3sim(*startGt3sim({"generate", path("dump.syx"), "--size", "6000"}), 30s));
    const QByteArray dump = readAll(path("dump.syx"));
    ASSERT_FALSE(dump.isEmpty());
    const QString size = QString::number(dump.size());

    // Decoys, registered first so that JACK lists them first: the entries selected
    // by default are theirs, and only the choice made in the dialog reaches gt3sim.
    auto decoyOut = startGt3sim({"transmit", path("dump.syx"), "--name", "decoyout", "--connect", "nobody:in",
                                 "--wait-ms", "300000"});
    auto decoyIn = startGt3sim({"receive", path("decoy.syx"), "--name", "decoyin", "--timeout-ms", "300000"});
    ASSERT_TRUE(jack.waitForPort("decoyout:out") && jack.waitForPort("decoyin:in"));
    // The device. Its output starts transmitting only when "trigger:in" appears,
    // so nothing is sent while the program opens and reopens its input.
    auto gt3Out = startGt3sim({"transmit", path("dump.syx"), "--pacing", "fast", "--name", "gt3out", "--connect",
                               "trigger:in", "--wait-ms", "300000"});
    auto gt3In = startGt3sim({"receive", path("sent.syx"), "--name", "gt3in", "--expect-bytes", size,
                              "--timeout-ms", "300000"});
    ASSERT_TRUE(jack.waitForPort("gt3out:out") && jack.waitForPort("gt3in:in"));

    std::unique_ptr<MIDIInput> in = CreateMIDIInput();
    std::unique_ptr<MIDIOutput> out = CreateMIDIOutput();
    FakeServices fake;
    fake.loop.processQtEvents = true;
    QSettingsStore settings(path("settings.ini"));
    Services services{*in, *out, fake.dialog, fake.boxes, settings, fake.folders, fake.beeper, fake.loop};
    DumpState MAIN;
    frmMain main(services, MAIN);

    QStringList inputs, outputs;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<MIDISetupForm*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        inputs = items(*dialog->cmbMIDIInDevice);
        outputs = items(*dialog->cmbMIDIOutDevice);
        dialog->cmbMIDIInDevice->setCurrentIndex(inputs.indexOf("gt3out:out"));
        dialog->cmbMIDIOutDevice->setCurrentIndex(outputs.indexOf("gt3in:in"));
        dialog->cmdSet->click();
    });
    main.Form_Load();
    ASSERT_TRUE(inputs.contains("gt3out:out") && inputs.contains("decoyout:out")) << inputs.join(", ").toStdString();
    ASSERT_TRUE(outputs.contains("gt3in:in") && outputs.contains("decoyin:in")) << outputs.join(", ").toStdString();
    EXPECT_EQ(settings.read(settings::kMIDIInputDeviceID, {}), settings::SignedText(inputs.indexOf("gt3out:out")));
    EXPECT_EQ(settings.read(settings::kMIDIOutputDeviceID, {}), settings::SignedText(outputs.indexOf("gt3in:in") - 1));

    main.cmdReceive_Click();
    auto trigger = startGt3sim({"receive", path("trigger.syx"), "--name", "trigger", "--expect-bytes", size});
    ASSERT_TRUE(finishGt3sim(*gt3Out, 60s));
    EXPECT_TRUE(spinUntil([&] { return MAIN.lByteCount >= dump.size(); }, 30s)) << MAIN.lByteCount;
    EXPECT_EQ(QByteArray::fromStdString(MAIN.sSysexData), dump);

    // Saved and opened again, which reopens the output on the stored device, then sent.
    fake.dialog.willChoose(path("received.syx"));
    main.cmdSave_Click();
    fake.dialog.willChoose(path("received.syx"));
    main.cmdOpen_Click();
    main.cmdSend_Click();
    ASSERT_TRUE(finishGt3sim(*gt3In, 60s));
    EXPECT_EQ(readAll(path("sent.syx")), dump);
    for (const auto& box : fake.boxes.boxes)
        ADD_FAILURE() << "message box: " << box.prompt.toStdString();
}

}  // namespace
