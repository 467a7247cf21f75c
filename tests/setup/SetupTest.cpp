// SPDX-License-Identifier: GPL-3.0-or-later
// The setup dialog, the first start, the devices remembered by name over changed
// lists and a broken settings file: the real main window and dialog over doubled ports.
#include "app/frmMain.h"
#include "platform/QtServices.h"
#include "platform/testing/FakeServices.h"
#include "setup/DeviceLookup.h"
#include "setup/MIDISetupForm.h"
#include "setup/SettingsKeys.h"
#include "support/Helpers.h"

#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <optional>

using namespace tandrel;
using namespace tandrel::testing;
using Log = std::vector<std::string>;
using Settings = QMap<QString, QString>;

namespace {

//! Runs `run`; if the setup dialog comes up modally, owned by `owner`, `act` drives it and must close it.
bool whenModal(QWidget* owner, const std::function<void()>& run, const std::function<void(MIDISetupForm&)>& act)
{
    bool shown = false;
    QTimer::singleShot(0, [&] {
        if (auto* dialog = qobject_cast<MIDISetupForm*>(QApplication::activeModalWidget())) {
            shown = true;
            EXPECT_EQ(dialog->parentWidget(), owner);
            act(*dialog);
            if (dialog->isVisible()) {
                ADD_FAILURE() << "the dialog was left open";
                dialog->reject();
            }
        }
    });
    run();
    QCoreApplication::processEvents();  // the timer, when no dialog ran it
    return shown;
}

//! Doubled ports and `stored` settings (empty text: not stored); with device lists, one start of the
//! program over ports that list them (output device −1 is "Tandrel").
struct Rig {
    explicit Rig(Settings stored = {})
    {
        stored.removeIf([](auto item) { return item.value().isEmpty(); });
        fake.settings.values = stored;
    }
    Rig(const QStringList& ins, const QStringList& outs, const Settings& stored = {}) : Rig(stored)
    {
        fake.in.deviceNames = ins;
        fake.out.deviceNames = outs;
        fake.out.mapperName = QStringLiteral("Tandrel");
    }
    //! Shows the dialog modally from a hidden owner.
    void show(const std::function<void(MIDISetupForm&)>& act)
    {
        EXPECT_TRUE(whenModal(&owner, [&] { MIDISetupForm::showModal(form, fake.services, MAIN, &owner); }, act));
    }
    //! Setup, with the devices listed under these names chosen, then Set.
    void choose(const QString& in, const QString& out)
    {
        MIDISetupForm f(fake.services, MAIN, nullptr);
        f.cmbMIDIInDevice->setCurrentIndex(f.cmbMIDIInDevice->findText(in));
        f.cmbMIDIOutDevice->setCurrentIndex(f.cmbMIDIOutDevice->findText(out));
        ASSERT_TRUE(f.cmbMIDIInDevice->currentText() == in && f.cmbMIDIOutDevice->currentText() == out);
        f.cmdSet->click();
    }
    void start()
    {
        fake.log.clear();
        fake.settings.writes.clear();
        w = std::make_unique<frmMain>(fake.services, MAIN);
        w->Form_Load();
    }
    Log prompts() const { return fake.log.only("MsgBox:"); }
    QString stored(const QString& key) const { return fake.settings.values.value(key); }
    //! Each port opened on the device named, once, and on no other; an empty name: not opened at all.
    void expectOpened(const QString& in, const QString& out) const
    {
        EXPECT_EQ(fake.in.openDevice(), in);
        EXPECT_EQ(fake.out.openDevice(), out);
        const Log log = fake.log.entries();
        EXPECT_EQ(std::count(log.begin(), log.end(), "in.Command=1"), in.isEmpty() ? 0 : 1);
        EXPECT_EQ(std::count(log.begin(), log.end(), "out.Command=1"), out.isEmpty() ? 0 : 1);
    }

    FakeServices fake;
    DumpState MAIN;
    QWidget owner;
    std::unique_ptr<MIDISetupForm> form;  // after `owner`, so it goes first
    std::unique_ptr<frmMain> w;
};

void press(QWidget* w, Qt::Key key)
{
    w->setFocus();
    QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &event);
}

std::string notConnected(const char* direction, const char* name)
{
    return std::string("MsgBox:The MIDI ") + direction + " device \"" + name + "\" is not connected, so Tandrel "
           + "has not opened any MIDI " + direction + ". Connect it, or click Setup to choose another device.";
}

}  // namespace

TEST(SetupDialog, StoredNumbersSelectTheNearestListedEntryAndSetStoresTheSelection)
{
    struct Case {
        const char* what;
        QString in, out;  // empty: not stored
        int devices, inPos, outPos, inOpened, outOpened;
        QString storedIn, storedOut;
    } cases[] = {
        {"nothing stored", {}, {}, 2, 0, 1, 0, 0, " 0", " 0"},
        {"second input, mapper", " 1", "-1", 2, 1, 0, 1, -1, " 1", "-1"},
        {"devices removed since", " 7", " 5", 2, 1, 2, 1, 1, " 1", " 1"},
        {"below the lists", "-3", "-4", 2, 0, 0, 0, -1, " 0", "-1"},
        {"not numbers", "abc", "x1", 2, 0, 1, 0, 0, " 0", " 0"},
        {"no devices at all", {}, {}, 0, -1, 0, -1, -1, "-1", "-1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Rig rig(Settings{{settings::kMIDIInputDeviceID, c.in}, {settings::kMIDIOutputDeviceID, c.out}});
        rig.fake.in.deviceNames.resize(c.devices);
        rig.fake.out.deviceNames.resize(c.devices);
        rig.show([&](MIDISetupForm& f) {
            EXPECT_EQ(f.cmbMIDIInDevice->count(), c.devices);
            EXPECT_EQ(f.cmbMIDIOutDevice->count(), c.devices + 1);  // the mapper first
            EXPECT_EQ(f.cmbMIDIInDevice->currentIndex(), c.inPos);
            EXPECT_EQ(f.cmbMIDIOutDevice->currentIndex(), c.outPos);
            EXPECT_EQ(rig.fake.in.deviceID, c.inOpened);
            EXPECT_EQ(rig.fake.out.deviceID, c.outOpened);
            const Log out = rig.fake.log.only("out.");  // a stored mapper is closed before it is opened
            EXPECT_EQ(std::count(out.begin(), out.end(), "out.Command=2"), c.out == "-1" ? 1 : 0);
            f.cmdSet->click();
        });
        EXPECT_EQ(rig.stored(settings::kMIDIInputDeviceID), c.storedIn);
        EXPECT_EQ(rig.stored(settings::kMIDIOutputDeviceID), c.storedOut);
        EXPECT_EQ(rig.stored(settings::kUserSetup), "1");
    }
}

TEST(SetupDialog, OnlySetStoresAndKeepsTheDialogLoadedForTheNextShowing)
{
    const struct {
        const char* what; std::function<void(MIDISetupForm&)> act; bool set;
    } cases[] = {
        {"Cancel button", [](MIDISetupForm& f) { f.cmdCancel->click(); }, false},
        {"Esc", [](MIDISetupForm& f) { press(f.cmbMIDIInDevice, Qt::Key_Escape); }, false},
        {"window closed", [](MIDISetupForm& f) { f.close(); }, false},
        {"Return in a list: no default button",
         [](MIDISetupForm& f) {
             press(f.cmbMIDIInDevice, Qt::Key_Return);
             EXPECT_TRUE(f.isVisible());
             f.cmdCancel->click();
         }, false},
        {"Return on Set", [](MIDISetupForm& f) { press(f.cmdSet, Qt::Key_Return); }, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Rig rig(Settings{{settings::kMIDIInputDeviceID, " 1"}});
        rig.show([&](MIDISetupForm& f) {
            f.cmbMIDIInDevice->setCurrentIndex(0);
            c.act(f);
        });
        EXPECT_EQ(rig.fake.in.deviceID, c.set ? 0 : 1);  // Cancel leaves the stored device
        EXPECT_EQ(rig.fake.settings.writes.empty(), !c.set);
        // Still loaded after Set, so nothing is listed or opened anew; loaded afresh after Cancel.
        const Log before = rig.fake.log.entries();
        rig.fake.in.deviceNames << QStringLiteral("Plugged in later");
        rig.show([&](MIDISetupForm& f) {
            EXPECT_EQ(f.cmbMIDIInDevice->count(), c.set ? 2 : 3);
            f.cmdCancel->click();
        });
        EXPECT_EQ(rig.fake.log.entries() == before, c.set);
    }
}

TEST(SetupDialog, FolderChoiceGoesToTheUserFolderAtOnceAndToTheStoreOnSet)
{
    const struct {
        const char* what; std::optional<QString> browsed; QString folder, stored;  // sUserFolder at once, after Set
    } cases[] = {
        {"cancelled", std::nullopt, "/old", "/old"},
        {"chosen", QStringLiteral("/new"), "/new", "/new"},
        {"item without a path", QString(), "", "/stored"},
        {"text after a NUL", QStringLiteral("/a") + QChar(u'\0') + QStringLiteral("junk"), "/a", "/a"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Rig rig(Settings{{settings::kUserFolder, "/stored"}});
        rig.MAIN.sUserFolder = QStringLiteral("/old");
        rig.fake.folders.answers = {c.browsed};
        rig.show([&](MIDISetupForm& f) {
            f.cmdSelectDefaultSysexFolder->click();
            EXPECT_EQ(rig.fake.folders.lastOwner, &f);
            EXPECT_EQ(rig.MAIN.sUserFolder, c.folder);
            f.cmdSet->click();
        });
        EXPECT_EQ(rig.fake.folders.lastTitle, "Select a folder for your SysEx files and click OK. Tandrel will "
                                              "search or save in the selected folder first.");
        EXPECT_EQ(rig.stored(settings::kUserFolder), c.stored);
    }
}

TEST(FirstRun, SetupDialogComesBeforeThePortsOpenOnTheStoredDevices)
{
    const Log filters = {"in.Filter(249)=1", "in.Filter(176)=1", "in.Filter(192)=1", "in.Filter(254)=1",
                         "in.Filter(248)=1"};
    for (bool pressSet : {true, false}) {
        Rig rig;
        frmMain main(rig.fake.services, rig.MAIN);
        ASSERT_TRUE(whenModal(&main, [&] { main.Form_Load(); }, [&](MIDISetupForm& d) {
            d.cmbMIDIInDevice->setCurrentIndex(1);
            d.cmbMIDIOutDevice->setCurrentIndex(0);
            (pressSet ? d.cmdSet : d.cmdCancel)->click();
        }));
        // The dialog loads: both lists, each port opened on its stored device.
        Log want = {"in.SysexBufferSize=125000", "in.DeviceID=0", "in.DeviceID=1", "in.DeviceID=0", "in.DeviceID=0",
                    "in.Command=1", "in.Filter(249)=1", "in.Filter(254)=1", "in.Filter(248)=1", "out.DeviceID=-1",
                    "out.DeviceID=0", "out.DeviceID=1", "out.DeviceID=0", "out.DeviceID=0", "out.Command=1"};
        // Set reopens on the choice and stores it, by name too.
        const Log set = {"in.Command=2", "in.Filter(249)=0", "in.Filter(254)=0", "in.Filter(248)=0", "in.DeviceID=1",
                         "in.Command=1", "in.Filter(249)=1", "in.Filter(254)=1", "in.Filter(248)=1", "out.Command=2",
                         "out.DeviceID=-1", "out.Command=1", "settings.User Setup?=1",
                         "settings.MIDI Input Device ID= 1", "settings.MIDI Output Device ID=-1",
                         "settings.MIDI Input Device Name=Fake In B", "settings.MIDI Output Device Name=Fake Mapper",
                         // Start-up then opens the stored devices, found by name in both lists.
                         "in.Command=2", "in.DeviceID=0", "in.DeviceID=1", "in.DeviceID=1", "in.Command=1"};
        const Log cancelled = {"in.Command=2", "in.DeviceID=0", "in.Command=1"};
        for (const Log& part : {pressSet ? set : cancelled, filters,
                                pressSet ? Log{"out.DeviceID=-1", "out.DeviceID=0", "out.DeviceID=1", "out.DeviceID=-1"}
                                         : Log{"out.DeviceID=0"},
                                Log{"out.Command=2", "out.Command=1", "in.Command=4"}})
            want.insert(want.end(), part.begin(), part.end());
        EXPECT_EQ(rig.fake.log.entries(), want);
        EXPECT_EQ(main.setupForm() != nullptr, pressSet);  // only Set leaves it loaded
    }
}

TEST(RememberedDevices, TheNextStartOpensTheSameDevicesByNameWhereverTheyAreListed)
{
    const QString gt3In = QStringLiteral("GT-3 In"), gt3Out = QStringLiteral("GT-3 Out");
    const QString through = QStringLiteral("Midi Through:Midi Through Port-0 14:0");
    const QString vir20 = QStringLiteral("VirMIDI 0-0:VirMIDI 0-0 20:0"), vir28 = QStringLiteral("VirMIDI 0-0:VirMIDI 0-0 28:0");
    struct Case {
        const char* what;
        QStringList ins, outs;          // at the first start, where the user chooses
        QString in, out;                // the chosen ones
        QStringList nextIns, nextOuts;  // at the second start
        QString inOpened, outOpened, inStored, outStored;  // and the numbers stored afterwards
    } cases[] = {
        {"lists unchanged", {"A", gt3In}, {"A", gt3Out}, gt3In, gt3Out, {"A", gt3In}, {"A", gt3Out}, gt3In, gt3Out, " 1", " 1"},
        {"lists reordered", {"A", gt3In, "B"}, {gt3Out, "X"}, gt3In, gt3Out, {"B", "A", gt3In}, {"X", gt3Out}, gt3In,
         gt3Out, " 2", " 1"},
        {"lists shortened", {"A", "B", gt3In}, {"A", "B", gt3Out}, gt3In, gt3Out, {"B", gt3In}, {gt3Out}, gt3In, gt3Out,
         " 1", " 0"},
        {"lists lengthened", {gt3In}, {gt3Out}, gt3In, gt3Out, {"Synth", "Through", gt3In}, {"Synth", gt3Out}, gt3In,
         gt3Out, " 2", " 1"},
        {"ALSA client numbers changed", {through, vir20}, {vir20}, vir20, vir20,
         {through, "UM-ONE:UM-ONE MIDI 1 24:0", vir28}, {"UM-ONE:UM-ONE MIDI 1 24:0", vir28}, vir28, vir28, " 2", " 1"},
        {"the mapper stays the mapper", {gt3In}, {"A"}, gt3In, "Tandrel", {"New", gt3In}, {"New", "A"}, gt3In,
         "Tandrel", " 1", "-1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Rig first(c.ins, c.outs);
        first.choose(c.in, c.out);
        EXPECT_EQ(first.stored(settings::kMIDIInputDeviceName), c.in);
        EXPECT_EQ(first.stored(settings::kMIDIOutputDeviceName), c.out);

        Rig next(c.nextIns, c.nextOuts, first.fake.settings.values);
        next.start();
        next.expectOpened(c.inOpened, c.outOpened);
        EXPECT_EQ(next.stored(settings::kMIDIInputDeviceID), c.inStored);
        EXPECT_EQ(next.stored(settings::kMIDIOutputDeviceID), c.outStored);
        // Quietly: no message, and the names stay as chosen; a number is written only when it moved.
        EXPECT_EQ(next.prompts(), Log{});
        EXPECT_EQ(next.stored(settings::kMIDIInputDeviceName), c.in);
        EXPECT_EQ(next.stored(settings::kMIDIOutputDeviceName), c.out);
        const auto moved = int(c.inStored != first.stored(settings::kMIDIInputDeviceID))
                           + int(c.outStored != first.stored(settings::kMIDIOutputDeviceID));
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
        Rig run(c.ins, c.outs, c.stored);
        run.start();
        run.expectOpened(c.inOpened, c.outOpened);  // an absent device is not even tried: the port would say so again
        EXPECT_EQ(run.prompts(), c.prompts);
        for (const auto& box : run.fake.boxes.boxes)
            EXPECT_TRUE(box.title == "Tandrel" && box.style == MessageBoxes::vbOKOnly);
        if (!c.opening.empty()) {
            const Log all = run.fake.log.entries();
            Log opening(all.begin() + 1, all.end() - 1);  // without the buffer size and ResetToReady's start
            for (auto& entry : opening)
                entry = entry.starts_with("MsgBox:") ? "MsgBox:" : entry;
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
    const struct {
        const char* what; QStringList outsNow /* when Open is clicked */; QString opened, storedNumber; int prompts;
    } cases[] = {
        {"still in its place", {"A", "GT-3 Out"}, "GT-3 Out", " 1", 0},
        {"moved since the start", {"GT-3 Out", "A", "B"}, "GT-3 Out", " 0", 0},
        {"pulled out since the start", {"A", "B"}, "", " 1", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Rig run({"In"}, {"A", "GT-3 Out"},
                {{settings::kUserSetup, "1"}, {settings::kMIDIOutputDeviceID, " 1"},
                 {settings::kMIDIOutputDeviceName, "GT-3 Out"}});
        run.start();
        ASSERT_EQ(run.fake.out.openDevice(), "GT-3 Out");
        run.fake.out.deviceNames = c.outsNow;
        run.fake.dialog.willChoose(QStringLiteral("/nowhere/dump.syx"));
        run.fake.log.clear();
        run.w->cmdOpen_Click();
        EXPECT_EQ(run.fake.out.openDevice(), c.opened);
        // Closed from the start, opened only when found.
        EXPECT_EQ(run.fake.log.only("out.Command="), (c.opened.isEmpty() ? Log{"out.Command=2"} : Log{"out.Command=2", "out.Command=1"}));
        EXPECT_EQ(run.stored(settings::kMIDIOutputDeviceID), c.storedNumber);
        EXPECT_EQ(int(run.prompts().size()), c.prompts);
    }
}

TEST(RememberedDevices, SetupSelectsTheStoredDevicesByNameAndListsAGoneOneAsNotConnected)
{
    const Settings before = {{settings::kMIDIInputDeviceID, " 0"}, {settings::kMIDIInputDeviceName, "GT-3 In"},
                             {settings::kMIDIOutputDeviceID, " 1"}, {settings::kMIDIOutputDeviceName, "GT-3 Out"}};
    const QStringList goneIns = {"A", "B", "GT-3 In (not connected)"}, goneOuts = {"Tandrel", "C", "D", "GT-3 Out (not connected)"};
    struct Case {
        const char* what;
        QStringList ins, outs, inList, outList;  // listed by the ports, and by the dialog
        int inAt, outAt;                         // selected
        QString inNumber, outNumber;             // stored once the dialog has loaded
        QString inOpened, outOpened;
        int pickIn, pickOut;  // -1: the user leaves the selection
        Settings afterSet;    // the device keys after Set
    } cases[] = {
        {"both moved: selected where they are, their numbers follow", {"A", "GT-3 In"}, {"GT-3 Out"}, {"A", "GT-3 In"},
         {"Tandrel", "GT-3 Out"}, 1, 1, " 1", " 0", "GT-3 In", "GT-3 Out", -1, -1,
         {{settings::kMIDIInputDeviceID, " 1"}, {settings::kMIDIInputDeviceName, "GT-3 In"},
          {settings::kMIDIOutputDeviceID, " 0"}, {settings::kMIDIOutputDeviceName, "GT-3 Out"}}},
        {"both gone: listed last, not opened, Set keeps them", {"A", "B"}, {"C", "D"}, goneIns, goneOuts, 2, 3, " 0",
         " 1", "", "", -1, -1, before},
        {"gone, then the user picks another", {"A", "B"}, {"C", "D"}, goneIns, goneOuts, 2, 3, " 0", " 1", "", "", 1, 0,
         {{settings::kMIDIInputDeviceID, " 1"}, {settings::kMIDIInputDeviceName, "B"},
          {settings::kMIDIOutputDeviceID, "-1"}, {settings::kMIDIOutputDeviceName, "Tandrel"}}},
    };
    const auto items = [](const QComboBox& list) {
        QStringList texts;
        for (int i = 0; i < list.count(); ++i)
            texts << list.itemText(i);
        return texts;
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Rig run(c.ins, c.outs, before);
        MIDISetupForm form(run.fake.services, run.MAIN, nullptr);
        EXPECT_EQ(items(*form.cmbMIDIInDevice), c.inList);
        EXPECT_EQ(items(*form.cmbMIDIOutDevice), c.outList);
        EXPECT_EQ(form.cmbMIDIInDevice->currentIndex(), c.inAt);
        EXPECT_EQ(form.cmbMIDIOutDevice->currentIndex(), c.outAt);
        run.expectOpened(c.inOpened, c.outOpened);
        EXPECT_EQ(run.prompts(), Log{});  // the list says it
        EXPECT_EQ(run.stored(settings::kMIDIInputDeviceID), c.inNumber);
        EXPECT_EQ(run.stored(settings::kMIDIOutputDeviceID), c.outNumber);
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

TEST(DeviceLookup, FindsTheRememberedDeviceExactNamesFirst)
{
    const QString alsaIn = QStringLiteral("VirMIDI 0-0:VirMIDI 0-0 20:0");
    const struct {
        const char* what; QStringList names; QString stored; int storedPosition, found;  // -1: not found
    } cases[] = {
        {"same place", {"A", "B", "C"}, "B", 1, 1},
        {"moved down: a device plugged in before it", {"New", "A", "B"}, "B", 1, 2},
        {"moved up: a device before it pulled out", {"B", "C"}, "B", 1, 0},
        {"gone, another device at its number", {"A", "C"}, "B", 1, -1},
        {"nothing listed", {}, "B", 0, -1},
        {"no name stored", {"", "A"}, "", 0, -1},
        {"stored number out of the list", {"A", "B"}, "B", 9, 1},
        {"stored number negative", {"A", "B"}, "A", -2, 0},
        {"same name twice: the one at the stored number", {"USB MIDI", "USB MIDI"}, "USB MIDI", 1, 1},
        {"same name twice, stored number elsewhere: the first", {"X", "USB MIDI", "USB MIDI"}, "USB MIDI", 0, 1},
        {"ALSA client number changed", {"Midi Through:Midi Through Port-0 14:0", "VirMIDI 0-0:VirMIDI 0-0 24:0"},
         alsaIn, 0, 1},
        {"ALSA port number changed", {"VirMIDI 0-0:VirMIDI 0-0 20:1"}, alsaIn, 0, 0},
        {"exact beats tolerant, even away from the stored number",
         {"VirMIDI 0-0:VirMIDI 0-0 24:0", "VirMIDI 0-0:VirMIDI 0-0 20:0"}, alsaIn, 0, 1},
        {"tolerant at the stored number beats tolerant before it",
         {"VirMIDI 0-0:VirMIDI 0-0 24:0", "VirMIDI 0-0:VirMIDI 0-0 28:0"}, alsaIn, 1, 1},
        {"another card is another device", {"VirMIDI 1-0:VirMIDI 1-0 20:0"}, alsaIn, 0, -1},
        {"stored without numbers, listed with them", {"Other 20:0", "UM-ONE:UM-ONE MIDI 1 28:0"},
         "UM-ONE:UM-ONE MIDI 1", 0, 1},
        {"JACK names are matched whole", {"gt3sim:out", "gt3sim:out2"}, "gt3sim:out2", 0, 1},
        {"a name that is only numbers is not emptied", {"A 1:2", "B 1:2"}, " 1:2", 0, -1},
        {"digits without a blank before them stay", {"Synth20:0"}, "Synth24:0", 0, -1},
        {"one number is not a client:port pair", {"Port 20"}, "Port 24", 0, -1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FindDevice(c.names, c.stored, c.storedPosition).value_or(-1), c.found) << c.what;
}

TEST(SettingsFault, StartsWithTheDefaultsAndTellsOnceWhereItCouldNotSave)
{
    QTemporaryDir dir;
    const char text[] = "[User Settings\nMIDI%20Input%20Device%20ID=\"x\nUser Setup?=1\n\xff\xfe\0\0 2\n[[[\n=\n\\";
    const QByteArray broken(text, sizeof text - 1);
    for (bool readOnly : {false, true}) {
        SCOPED_TRACE(readOnly ? "read-only folder" : "writable folder");
        const QString folder = dir.filePath(QString::number(readOnly));
        QString ini = folder + QStringLiteral("/Tandrel.conf");
        std::optional<Tmpfs> tmpfs;
        if (!readOnly) {
            ASSERT_TRUE(writeBytes(ini, broken));
        } else if (!(tmpfs.emplace(folder, "size=1m").mounted && writeBytes(ini, broken) && tmpfs->makeReadOnly())) {
            std::printf("[ fault    ] cannot mount a tmpfs here: a folder below /proc instead\n");
            ini = QStringLiteral("/proc/Tandrel/Tandrel.conf");
        }
        const QByteArray before = readBytes(ini);
        FakeServices fake;
        QSettingsStore store(ini);
        Services services{fake.in, fake.out, fake.dialog, fake.boxes, store, fake.folders, fake.beeper, fake.loop};
        DumpState MAIN;
        frmMain w(services, MAIN);
        // A first run, then Setup again.
        EXPECT_TRUE(whenModal(&w, [&] { w.Form_Load(); }, [](MIDISetupForm& d) { d.cmdSet_Click(); }));
        EXPECT_TRUE(whenModal(&w, [&] { w.cmdSetup_Click(); }, [](MIDISetupForm& d) { d.cmdSet_Click(); }));
        EXPECT_EQ(fake.in.deviceID, 0);
        EXPECT_EQ(fake.out.deviceID, 0);
        EXPECT_EQ(MAIN.sUserFolder, settings::ExecutableFolder());
        EXPECT_EQ(store.read(settings::kUserSetup, {}), "1") << "the choice holds for this run";
        if (!readOnly) {
            EXPECT_TRUE(fake.boxes.boxes.empty());
            const QSettings replaced(ini, QSettings::IniFormat);
            EXPECT_EQ(replaced.value(QStringLiteral("User Settings/User Setup?")).toString(), "1");
        } else {
            ASSERT_EQ(fake.boxes.boxes.size(), 1u) << "told once per run";
            EXPECT_TRUE(fake.boxes.boxes[0].prompt.contains(ini)) << fake.boxes.boxes[0].prompt.toStdString();
            EXPECT_EQ(readBytes(ini), before) << "what stood there is untouched";
        }
    }
}
