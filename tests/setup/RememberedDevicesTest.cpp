// SPDX-License-Identifier: GPL-3.0-or-later
// The chosen devices are remembered by name: two starts of the main window over doubled ports whose
// device lists changed in between, the setup dialog over such lists, and Open's reopening of the output.
#include "app/frmMain.h"
#include "platform/testing/FakeServices.h"
#include "setup/MIDISetupForm.h"
#include "setup/SettingsKeys.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <gtest/gtest.h>
#include <algorithm>

using namespace tandrel;
using namespace tandrel::testing;
using Log = std::vector<std::string>;
using Settings = QMap<QString, QString>;

namespace {

const QString kAlsaThrough = QStringLiteral("Midi Through:Midi Through Port-0 14:0");

//! One start of the program over ports that list `ins` and `outs` (device −1 is "Tandrel"), with the
//! settings an earlier run left.
struct Start {
    Start(const QStringList& ins, const QStringList& outs, const Settings& stored = {})
    {
        fake.in.deviceNames = ins;
        fake.out.deviceNames = outs;
        fake.out.mapperName = QStringLiteral("Tandrel");
        fake.settings.values = stored;
    }
    //! Setup, with the devices listed under these names chosen, then Set.
    void choose(const QString& in, const QString& out)
    {
        MIDISetupForm form(fake.services, MAIN, nullptr);
        form.cmbMIDIInDevice->setCurrentIndex(form.cmbMIDIInDevice->findText(in));
        form.cmbMIDIOutDevice->setCurrentIndex(form.cmbMIDIOutDevice->findText(out));
        ASSERT_TRUE(form.cmbMIDIInDevice->currentText() == in && form.cmbMIDIOutDevice->currentText() == out);
        form.cmdSet->click();
    }
    void start()
    {
        fake.log.clear();
        fake.settings.writes.clear();
        w = std::make_unique<frmMain>(fake.services, MAIN);
        w->Form_Load();
    }
    Log prompts() const { return fake.log.only("MsgBox:"); }

    FakeServices fake;
    DumpState MAIN;
    std::unique_ptr<frmMain> w;
};

std::string notConnected(const char* direction, const char* name)
{
    return std::string("MsgBox:The MIDI ") + direction + " device \"" + name + "\" is not connected, so Tandrel "
           + "has not opened any MIDI " + direction + ". Connect it, or click Setup to choose another device.";
}

QString stored(const Start& run, const QString& key) { return run.fake.settings.values.value(key); }

//! Each port opened on the device named, once, and on no other; an empty name: not opened at all.
void expectOpened(const Start& run, const QString& in, const QString& out)
{
    EXPECT_EQ(run.fake.in.openDevice(), in);
    EXPECT_EQ(run.fake.out.openDevice(), out);
    const Log log = run.fake.log.entries();
    EXPECT_EQ(std::count(log.begin(), log.end(), "in.Command=1"), in.isEmpty() ? 0 : 1);
    EXPECT_EQ(std::count(log.begin(), log.end(), "out.Command=1"), out.isEmpty() ? 0 : 1);
}

}  // namespace

TEST(RememberedDevices, TheNextStartOpensTheSameDevicesByNameWhereverTheyAreListed)
{
    const QString gt3In = QStringLiteral("GT-3 In"), gt3Out = QStringLiteral("GT-3 Out");
    struct Case {
        const char* what;
        QStringList ins, outs;        // at the first start, where the user chooses
        QString in, out;              // the chosen ones
        QStringList nextIns, nextOuts;  // at the second start
        QString inOpened, outOpened;
        QString inStored, outStored;  // the numbers stored afterwards
    } cases[] = {
        {"lists unchanged", {"A", gt3In}, {"A", gt3Out}, gt3In, gt3Out, {"A", gt3In}, {"A", gt3Out}, gt3In,
         gt3Out, " 1", " 1"},
        {"lists reordered", {"A", gt3In, "B"}, {gt3Out, "X"}, gt3In, gt3Out, {"B", "A", gt3In}, {"X", gt3Out},
         gt3In, gt3Out, " 2", " 1"},
        {"lists shortened", {"A", "B", gt3In}, {"A", "B", gt3Out}, gt3In, gt3Out, {"B", gt3In}, {gt3Out}, gt3In,
         gt3Out, " 1", " 0"},
        {"lists lengthened", {gt3In}, {gt3Out}, gt3In, gt3Out, {"Synth", "Through", gt3In}, {"Synth", gt3Out},
         gt3In, gt3Out, " 2", " 1"},
        {"ALSA client numbers changed", {kAlsaThrough, "VirMIDI 0-0:VirMIDI 0-0 20:0"},
         {"VirMIDI 0-0:VirMIDI 0-0 20:0"}, "VirMIDI 0-0:VirMIDI 0-0 20:0", "VirMIDI 0-0:VirMIDI 0-0 20:0",
         {kAlsaThrough, "UM-ONE:UM-ONE MIDI 1 24:0", "VirMIDI 0-0:VirMIDI 0-0 28:0"},
         {"UM-ONE:UM-ONE MIDI 1 24:0", "VirMIDI 0-0:VirMIDI 0-0 28:0"}, "VirMIDI 0-0:VirMIDI 0-0 28:0",
         "VirMIDI 0-0:VirMIDI 0-0 28:0", " 2", " 1"},
        {"the mapper stays the mapper", {gt3In}, {"A"}, gt3In, "Tandrel", {"New", gt3In}, {"New", "A"}, gt3In,
         "Tandrel", " 1", "-1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Start first(c.ins, c.outs);
        first.choose(c.in, c.out);
        EXPECT_EQ(stored(first, settings::kMIDIInputDeviceName), c.in);
        EXPECT_EQ(stored(first, settings::kMIDIOutputDeviceName), c.out);

        Start next(c.nextIns, c.nextOuts, first.fake.settings.values);
        next.start();
        expectOpened(next, c.inOpened, c.outOpened);
        EXPECT_EQ(stored(next, settings::kMIDIInputDeviceID), c.inStored);
        EXPECT_EQ(stored(next, settings::kMIDIOutputDeviceID), c.outStored);
        // Quietly: no message, and the names stay as chosen; a number is written only when it moved.
        EXPECT_EQ(next.prompts(), Log{});
        EXPECT_EQ(stored(next, settings::kMIDIInputDeviceName), c.in);
        EXPECT_EQ(stored(next, settings::kMIDIOutputDeviceName), c.out);
        const auto moved = int(c.inStored != stored(first, settings::kMIDIInputDeviceID))
                           + int(c.outStored != stored(first, settings::kMIDIOutputDeviceID));
        EXPECT_EQ(int(next.fake.settings.writes.size()), moved);
        EXPECT_EQ(next.w->lblStatus->text(), "Ready to Receive or Open");
    }
}

TEST(RememberedDevices, AGoneDeviceIsToldOnceAndNoOtherDeviceTakesItsPlace)
{
    const Settings both = {{settings::kUserSetup, "1"}, {settings::kMIDIInputDeviceID, " 1"},
                           {settings::kMIDIInputDeviceName, "GT-3 In"}, {settings::kMIDIOutputDeviceID, " 0"},
                           {settings::kMIDIOutputDeviceName, "GT-3 Out"}};
    struct Case {
        const char* what;
        Settings stored;
        QStringList ins, outs;
        QString inOpened, outOpened;  // empty: not opened
        Log prompts;
        Log opening;  // the port calls from the input's closing to the output's opening, when asserted
    } cases[] = {
        {"input gone", both, {"A", "B"}, {"GT-3 Out"}, "", "GT-3 Out", {notConnected("input", "GT-3 In")}, {}},
        {"output gone", both, {"A", "GT-3 In"}, {"C"}, "GT-3 In", "", {notConnected("output", "GT-3 Out")}, {}},
        {"both gone", both, {"A", "B"}, {"C"}, "", "",
         {notConnected("input", "GT-3 In"), notConnected("output", "GT-3 Out")},
         {"in.DeviceID=0", "in.DeviceID=1", "MsgBox:", "in.DeviceID=-2", "in.Filter(249)=1", "in.Filter(176)=1",
          "in.Filter(192)=1", "in.Filter(254)=1", "in.Filter(248)=1", "out.DeviceID=-1", "out.DeviceID=0",
          "MsgBox:", "out.DeviceID=-2"}},
        {"names not stored: the numbers, as before",
         {{settings::kUserSetup, "1"}, {settings::kMIDIInputDeviceID, " 1"}, {settings::kMIDIOutputDeviceID, " 0"}},
         {"B", "A"}, {"C"}, "A", "C", {},
         {"in.DeviceID=1", "in.Command=1", "in.Filter(249)=1", "in.Filter(176)=1", "in.Filter(192)=1",
          "in.Filter(254)=1", "in.Filter(248)=1", "out.DeviceID=0", "out.Command=1"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Start run(c.ins, c.outs, c.stored);
        run.start();
        expectOpened(run, c.inOpened, c.outOpened);  // an absent device is not even tried: the port would say so again
        EXPECT_EQ(run.prompts(), c.prompts);
        for (const auto& box : run.fake.boxes.boxes)
            EXPECT_TRUE(box.title == "Tandrel" && box.style == MessageBoxes::vbOKOnly);
        if (!c.opening.empty()) {
            Log opening = run.fake.log.entries();
            opening.erase(opening.begin(), opening.begin() + 1);    // the buffer size
            opening.erase(opening.end() - 1, opening.end());        // ResetToReady's start
            for (auto& entry : opening)
                if (entry.starts_with("MsgBox:"))
                    entry = "MsgBox:";
            EXPECT_EQ(opening, c.opening);
        }
        EXPECT_TRUE(run.fake.settings.writes.empty());
        EXPECT_EQ(run.w->lblStatus->text(), "Ready to Receive or Open");

        // Receive reopens the input on the port's device: still not the one that holds the old number.
        run.w->cmdReceive_Click();
        EXPECT_EQ(run.fake.in.openDevice(), c.inOpened);
        EXPECT_EQ(run.prompts(), c.prompts);
    }
}

TEST(RememberedDevices, OpenReopensTheOutputByItsName)
{
    struct Case {
        const char* what;
        QStringList outsNow;  // listed when Open is clicked
        QString opened;
        QString storedNumber;
        int prompts;
    } cases[] = {
        {"still in its place", {"A", "GT-3 Out"}, "GT-3 Out", " 1", 0},
        {"moved since the start", {"GT-3 Out", "A", "B"}, "GT-3 Out", " 0", 0},
        {"pulled out since the start", {"A", "B"}, "", " 1", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Start run({"In"}, {"A", "GT-3 Out"},
                  {{settings::kUserSetup, "1"}, {settings::kMIDIOutputDeviceID, " 1"},
                   {settings::kMIDIOutputDeviceName, "GT-3 Out"}});
        run.start();
        ASSERT_EQ(run.fake.out.openDevice(), "GT-3 Out");
        run.fake.out.deviceNames = c.outsNow;
        run.fake.dialog.willChoose(QStringLiteral("/nowhere/dump.syx"));
        run.fake.log.clear();
        run.w->cmdOpen_Click();
        EXPECT_EQ(run.fake.out.openDevice(), c.opened);
        const Log out = run.fake.log.only("out.Command=");  // closed from the start, opened only when found
        const Log want = c.opened.isEmpty() ? Log{"out.Command=2"} : Log{"out.Command=2", "out.Command=1"};
        EXPECT_EQ(out, want);
        EXPECT_EQ(stored(run, settings::kMIDIOutputDeviceID), c.storedNumber);
        EXPECT_EQ(int(run.prompts().size()), c.prompts);
    }
}

TEST(RememberedDevices, SetupSelectsTheStoredDevicesByNameAndListsAGoneOneAsNotConnected)
{
    const Settings before = {{settings::kMIDIInputDeviceID, " 0"}, {settings::kMIDIInputDeviceName, "GT-3 In"},
                             {settings::kMIDIOutputDeviceID, " 1"}, {settings::kMIDIOutputDeviceName, "GT-3 Out"}};
    struct Case {
        const char* what;
        QStringList ins, outs;
        QStringList inList, outList;  // as the dialog lists them
        int inAt, outAt;              // selected
        QString inNumber, outNumber;  // stored once the dialog has loaded
        QString inOpened, outOpened;
        int pickIn, pickOut;  // -1: the user leaves the selection
        Settings afterSet;    // the device keys after Set
    } cases[] = {
        {"both moved: selected where they are, their numbers follow", {"A", "GT-3 In"}, {"GT-3 Out"},
         {"A", "GT-3 In"}, {"Tandrel", "GT-3 Out"}, 1, 1, " 1", " 0", "GT-3 In", "GT-3 Out", -1, -1,
         {{settings::kMIDIInputDeviceID, " 1"}, {settings::kMIDIInputDeviceName, "GT-3 In"},
          {settings::kMIDIOutputDeviceID, " 0"}, {settings::kMIDIOutputDeviceName, "GT-3 Out"}}},
        {"both gone: listed last, not opened, Set keeps them", {"A", "B"}, {"C", "D"},
         {"A", "B", "GT-3 In (not connected)"}, {"Tandrel", "C", "D", "GT-3 Out (not connected)"}, 2, 3, " 0", " 1",
         "", "", -1, -1, before},
        {"gone, then the user picks another", {"A", "B"}, {"C", "D"}, {"A", "B", "GT-3 In (not connected)"},
         {"Tandrel", "C", "D", "GT-3 Out (not connected)"}, 2, 3, " 0", " 1", "", "", 1, 0,
         {{settings::kMIDIInputDeviceID, " 1"}, {settings::kMIDIInputDeviceName, "B"},
          {settings::kMIDIOutputDeviceID, "-1"}, {settings::kMIDIOutputDeviceName, "Tandrel"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Start run(c.ins, c.outs, before);
        MIDISetupForm form(run.fake.services, run.MAIN, nullptr);
        auto items = [](const QComboBox& list) {
            QStringList texts;
            for (int i = 0; i < list.count(); ++i)
                texts << list.itemText(i);
            return texts;
        };
        EXPECT_EQ(items(*form.cmbMIDIInDevice), c.inList);
        EXPECT_EQ(items(*form.cmbMIDIOutDevice), c.outList);
        EXPECT_EQ(form.cmbMIDIInDevice->currentIndex(), c.inAt);
        EXPECT_EQ(form.cmbMIDIOutDevice->currentIndex(), c.outAt);
        expectOpened(run, c.inOpened, c.outOpened);
        EXPECT_EQ(run.prompts(), Log{});  // the list says it
        EXPECT_EQ(stored(run, settings::kMIDIInputDeviceID), c.inNumber);
        EXPECT_EQ(stored(run, settings::kMIDIOutputDeviceID), c.outNumber);
        if (c.pickIn >= 0)
            form.cmbMIDIInDevice->setCurrentIndex(c.pickIn);
        if (c.pickOut >= 0)
            form.cmbMIDIOutDevice->setCurrentIndex(c.pickOut);
        form.cmdSet->click();
        EXPECT_EQ(run.fake.in.openDevice(), c.pickIn >= 0 ? c.inList[c.pickIn] : c.inOpened);
        EXPECT_EQ(run.fake.out.openDevice(), c.pickOut >= 0 ? c.outList[c.pickOut] : c.outOpened);
        Settings devices = run.fake.settings.values;
        devices.remove(settings::kUserSetup);
        devices.remove(settings::kUserFolder);
        EXPECT_EQ(devices, c.afterSet);
    }
}
