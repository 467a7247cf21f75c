// SPDX-License-Identifier: GPL-3.0-or-later
// The setup dialog with doubles for the ports and the folder browser, and a real
// settings store in a temporary INI file whose writes join the port writes in one log.
#include "platform/QtServices.h"
#include "platform/testing/FakeServices.h"
#include "setup/MIDISetupForm.h"
#include "setup/SettingsKeys.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

using namespace tandrel;
using namespace tandrel::testing;
using Log = std::vector<std::string>;

namespace {

class LoggedIniStore : public SettingsStore {
public:
    LoggedIniStore(const QString& path, CallLog& log) : real_(path), log_(log) {}
    QString read(const QString& key, const QString& fallback) const override { return real_.read(key, fallback); }
    void write(const QString& key, const QString& text) override
    {
        log_.add("settings." + key.toStdString() + "=" + text.toStdString());
        real_.write(key, text);
    }

private:
    QSettingsStore real_;
    CallLog& log_;
};

//! Doubles, a fresh store, and the dialog shown modally from a hidden owner.
struct Rig {
    explicit Rig(std::initializer_list<std::pair<QString, QString>> stored = {})
    {
        for (const auto& [key, text] : stored)
            if (!text.isEmpty()) QSettingsStore(ini).write(key, text);
    }
    QString stored(const QString& key) const { return QSettingsStore(ini).read(key, QStringLiteral("<absent>")); }

    //! `whileShown` runs inside the modal loop and must leave it by Set or Cancel.
    void show(const std::function<void(MIDISetupForm&)>& whileShown)
    {
        QTimer::singleShot(0, [this, whileShown] {
            ASSERT_TRUE(form && form->isVisible() && form->isModal());
            whileShown(*form);
            if (form->isVisible()) {
                ADD_FAILURE() << "the dialog was left open";
                form->reject();
            }
        });
        MIDISetupForm::showModal(form, services, MAIN, &owner);
    }

    QTemporaryDir dir;
    QString ini = dir.filePath(QStringLiteral("settings.ini"));
    FakeServices fake;
    LoggedIniStore settings{ini, fake.log};
    Services services{fake.in, fake.out, fake.dialog, fake.boxes, settings, fake.folders, fake.beeper, fake.loop};
    DumpState MAIN;
    QWidget owner;
    std::unique_ptr<MIDISetupForm> form;  // after `owner`, so it goes first
};

TEST(SetupDialog, StoredNumbersSelectTheNearestListedEntryAndSetStoresTheSelection)
{
    struct Case {
        const char* what;
        QString in, out;  // empty: not stored
        int devices;
        int inPos, outPos, inOpened, outOpened;
        QString storedIn, storedOut;
    };
    const Case cases[] = {
        {"nothing stored", {}, {}, 2, 0, 1, 0, 0, " 0", " 0"},
        {"second input, mapper", " 1", "-1", 2, 1, 0, 1, -1, " 1", "-1"},
        {"devices removed since", " 7", " 5", 2, 1, 2, 1, 1, " 1", " 1"},
        {"below the lists", "-3", "-4", 2, 0, 0, 0, -1, " 0", "-1"},
        {"not numbers", "abc", "x1", 2, 0, 1, 0, 0, " 0", " 0"},
        {"no devices at all", {}, {}, 0, -1, 0, -1, -1, "-1", "-1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Rig rig{{settings::kMIDIInputDeviceID, c.in}, {settings::kMIDIOutputDeviceID, c.out}};
        rig.fake.in.deviceNames.resize(c.devices);
        rig.fake.out.deviceNames.resize(c.devices);

        rig.show([&](MIDISetupForm& f) {
            EXPECT_EQ(f.cmbMIDIInDevice->count(), c.devices);
            EXPECT_EQ(f.cmbMIDIOutDevice->count(), c.devices + 1);  // the mapper first
            EXPECT_EQ(f.cmbMIDIInDevice->currentIndex(), c.inPos);
            EXPECT_EQ(f.cmbMIDIOutDevice->currentIndex(), c.outPos);
            EXPECT_EQ(rig.fake.in.deviceID, c.inOpened);
            EXPECT_EQ(rig.fake.out.deviceID, c.outOpened);
            f.cmdSet->click();
        });
        EXPECT_EQ(rig.stored(settings::kMIDIInputDeviceID), c.storedIn);
        EXPECT_EQ(rig.stored(settings::kMIDIOutputDeviceID), c.storedOut);
    }
}

// Set's own order of closing, reopening and writing is checked with the first-run flow.
TEST(SetupDialog, LoadingOnAStoredMapperClosesTheOutputBeforeOpeningIt)
{
    Rig rig{{settings::kMIDIOutputDeviceID, "-1"}};
    MIDISetupForm dialog(rig.services, rig.MAIN, &rig.owner);
    EXPECT_EQ(rig.fake.log.only("out."), Log({"out.DeviceID=-1", "out.DeviceID=0", "out.DeviceID=1", "out.DeviceID=-1",
                                              "out.Command=2", "out.DeviceID=-1", "out.Command=1"}));
}

TEST(SetupDialog, AfterSetLaterShowingsAskNothingUntilACancelUnloadsIt)
{
    Rig rig;
    rig.MAIN.sUserFolder = QStringLiteral("/home/user/patches");
    rig.show([](MIDISetupForm& f) { f.cmdSet->click(); });
    EXPECT_EQ(rig.fake.log.only("settings."),
              Log({"settings.User Setup?=1", "settings.MIDI Input Device ID= 0", "settings.MIDI Output Device ID= 0",
                   "settings.UserFolder=/home/user/patches"}));
    ASSERT_TRUE(rig.form && !rig.form->isVisible());

    const int queries = rig.fake.in.deviceQueries + rig.fake.out.deviceQueries;
    const Log before = rig.fake.log.entries();
    rig.fake.in.deviceNames << QStringLiteral("Plugged in later");
    rig.show([](MIDISetupForm& f) {
        EXPECT_EQ(f.cmbMIDIInDevice->count(), 2);
        f.cmdCancel->click();
    });
    EXPECT_EQ(rig.fake.in.deviceQueries + rig.fake.out.deviceQueries, queries);
    EXPECT_EQ(rig.fake.log.entries(), before);
    EXPECT_EQ(rig.form, nullptr);

    rig.show([](MIDISetupForm& f) {
        EXPECT_EQ(f.cmbMIDIInDevice->count(), 3);
        f.cmdCancel->click();
    });
}

TEST(SetupDialog, KeysAndButtonsThatLeaveOrKeepTheDialog)
{
    auto key = [](auto target, Qt::Key k, Qt::KeyboardModifiers m = Qt::NoModifier) {
        return [=](MIDISetupForm& f) {
            QWidget* w = f.*target;
            w->setFocus();
            QKeyEvent press(QEvent::KeyPress, k, m);
            QCoreApplication::sendEvent(w, &press);
        };
    };
    const auto inList = &MIDISetupForm::cmbMIDIInDevice;
    struct Case {
        const char* what;
        std::function<void(MIDISetupForm&)> act;
        bool open, stored;
    };
    const Case cases[] = {
        {"Cancel button", [](MIDISetupForm& f) { f.cmdCancel->click(); }, false, false},
        {"Esc", key(inList, Qt::Key_Escape), false, false},
        {"window closed", [](MIDISetupForm& f) { f.close(); }, false, false},
        {"Return in a list: no default button", key(inList, Qt::Key_Return), true, false},
        {"keypad Enter in a list", key(inList, Qt::Key_Enter, Qt::KeypadModifier), true, false},
        {"Return on Set", key(&MIDISetupForm::cmdSet, Qt::Key_Return), false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Rig rig{{settings::kMIDIInputDeviceID, " 1"}};
        bool open = false;
        rig.show([&](MIDISetupForm& f) {
            f.cmbMIDIInDevice->setCurrentIndex(0);
            c.act(f);
            open = f.isVisible();
            if (open)
                f.cmdCancel->click();
            else
                EXPECT_EQ(rig.fake.in.deviceID, c.stored ? 0 : 1);  // Cancel leaves the stored device
        });
        EXPECT_EQ(open, c.open);
        EXPECT_EQ(rig.form != nullptr, c.stored);  // only Set keeps it loaded
        EXPECT_EQ(rig.fake.log.only("settings.").empty(), !c.stored);
    }
}

TEST(SetupDialog, FolderChoiceGoesToTheUserFolderAtOnceAndToTheStoreOnSet)
{
    struct Case {
        const char* what;
        std::optional<QString> browsed;
        QString folder, stored;  // sUserFolder at once, "UserFolder" after Set
    };
    const Case cases[] = {
        {"cancelled", std::nullopt, "/old", "/old"},
        {"chosen", QStringLiteral("/new"), "/new", "/new"},
        {"item without a path", QString(), "", "/stored"},
        {"text after a NUL", QStringLiteral("/a") + QChar(u'\0') + QStringLiteral("junk"), "/a", "/a"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Rig rig{{settings::kUserFolder, "/stored"}};
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

}  // namespace
