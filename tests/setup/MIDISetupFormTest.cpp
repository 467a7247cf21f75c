// SPDX-License-Identifier: GPL-3.0-or-later
// The setup dialog, alone and at the first start, with doubles for everything outside.
#include "app/frmMain.h"
#include "platform/testing/FakeServices.h"
#include "setup/MIDISetupForm.h"
#include "setup/SettingsKeys.h"

#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>
#include <algorithm>
#include <functional>

using namespace tandrel;
using namespace tandrel::testing;
using Log = std::vector<std::string>;

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

//! Doubles with `stored` settings (empty text: not stored); `show` shows the dialog from a hidden owner.
struct Rig {
    explicit Rig(QMap<QString, QString> stored = {})
    {
        stored.removeIf([](auto item) { return item.value().isEmpty(); });
        fake.settings.values = stored;
    }
    void show(const std::function<void(MIDISetupForm&)>& act)
    {
        EXPECT_TRUE(whenModal(&owner, [&] { MIDISetupForm::showModal(form, fake.services, MAIN, &owner); }, act));
    }
    FakeServices fake;
    DumpState MAIN;
    QWidget owner;
    std::unique_ptr<MIDISetupForm> form;  // after `owner`, so it goes first
};

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
        Rig rig({{settings::kMIDIInputDeviceID, c.in}, {settings::kMIDIOutputDeviceID, c.out}});
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
        EXPECT_EQ(rig.fake.settings.values.value(settings::kMIDIInputDeviceID), c.storedIn);
        EXPECT_EQ(rig.fake.settings.values.value(settings::kMIDIOutputDeviceID), c.storedOut);
        EXPECT_EQ(rig.fake.settings.values.value(settings::kUserSetup), "1");
    }
}

void press(QWidget* w, Qt::Key key)
{
    w->setFocus();
    QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &event);
}

TEST(SetupDialog, OnlySetStoresAndKeepsTheDialogLoadedForTheNextShowing)
{
    struct Case {
        const char* what;
        std::function<void(MIDISetupForm&)> act;
        bool set;
    } cases[] = {
        {"Cancel button", [](MIDISetupForm& f) { f.cmdCancel->click(); }, false},
        {"Esc", [](MIDISetupForm& f) { press(f.cmbMIDIInDevice, Qt::Key_Escape); }, false},
        {"window closed", [](MIDISetupForm& f) { f.close(); }, false},
        {"Return in a list: no default button",
         [](MIDISetupForm& f) {
             press(f.cmbMIDIInDevice, Qt::Key_Return);
             EXPECT_TRUE(f.isVisible());
             f.cmdCancel->click();
         },
         false},
        {"Return on Set", [](MIDISetupForm& f) { press(f.cmdSet, Qt::Key_Return); }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Rig rig({{settings::kMIDIInputDeviceID, " 1"}});
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
    struct Case {
        const char* what;
        std::optional<QString> browsed;
        QString folder, stored;  // sUserFolder at once, "UserFolder" after Set
    } cases[] = {
        {"cancelled", std::nullopt, "/old", "/old"},
        {"chosen", QStringLiteral("/new"), "/new", "/new"},
        {"item without a path", QString(), "", "/stored"},
        {"text after a NUL", QStringLiteral("/a") + QChar(u'\0') + QStringLiteral("junk"), "/a", "/a"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Rig rig({{settings::kUserFolder, "/stored"}});
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
        EXPECT_EQ(rig.fake.settings.values.value(settings::kUserFolder), c.stored);
    }
}

const Log kDialogLoad = {
    "in.SysexBufferSize=125000", "in.DeviceID=0", "in.DeviceID=1", "in.DeviceID=0",  // listed, then the stored one
    "in.DeviceID=0", "in.Command=1", "in.Filter(249)=1", "in.Filter(254)=1", "in.Filter(248)=1",
    "out.DeviceID=-1", "out.DeviceID=0", "out.DeviceID=1", "out.DeviceID=0",  // listed, then the stored one
    "out.DeviceID=0", "out.Command=1"};

//! Dialog load, what the dialog did, then start-up's own opening on the stored devices; `listed`: by
//! their stored names, which lists both ports' devices before each opening.
Log startUpLog(Log inDialog, const std::string& in, const std::string& out, bool listed)
{
    inDialog.insert(inDialog.begin(), kDialogLoad.begin(), kDialogLoad.end());
    const Log inList = listed ? Log{"in.DeviceID=0", "in.DeviceID=1"} : Log{};
    const Log outList = listed ? Log{"out.DeviceID=-1", "out.DeviceID=0", "out.DeviceID=1"} : Log{};
    for (const Log& part : {Log{"in.Command=2"}, inList,
                            Log{"in.DeviceID=" + in, "in.Command=1", "in.Filter(249)=1", "in.Filter(176)=1",
                                "in.Filter(192)=1", "in.Filter(254)=1", "in.Filter(248)=1"},
                            outList, Log{"out.DeviceID=" + out, "out.Command=2", "out.Command=1", "in.Command=4"}})
        inDialog.insert(inDialog.end(), part.begin(), part.end());
    return inDialog;
}

TEST(FirstRun, SetupDialogComesBeforeThePortsOpenOnTheStoredDevices)
{
    const Log set = {"in.Command=2", "in.Filter(249)=0", "in.Filter(254)=0", "in.Filter(248)=0", "in.DeviceID=1",
                     "in.Command=1", "in.Filter(249)=1", "in.Filter(254)=1", "in.Filter(248)=1", "out.Command=2",
                     "out.DeviceID=-1", "out.Command=1", "settings.User Setup?=1",
                     "settings.MIDI Input Device ID= 1", "settings.MIDI Output Device ID=-1",
                     "settings.MIDI Input Device Name=Fake In B", "settings.MIDI Output Device Name=Fake Mapper"};
    for (bool pressSet : {true, false}) {
        Rig rig;
        frmMain main(rig.fake.services, rig.MAIN);
        ASSERT_TRUE(whenModal(&main, [&] { main.Form_Load(); }, [&](MIDISetupForm& d) {
            d.cmbMIDIInDevice->setCurrentIndex(1);
            d.cmbMIDIOutDevice->setCurrentIndex(0);
            (pressSet ? d.cmdSet : d.cmdCancel)->click();
        }));
        EXPECT_EQ(rig.fake.log.entries(),
                  pressSet ? startUpLog(set, "1", "-1", true) : startUpLog({}, "0", "0", false));
        EXPECT_EQ(main.setupForm() != nullptr, pressSet);  // only Set leaves it loaded
    }
}
