// SPDX-License-Identifier: GPL-3.0-or-later
// The setup dialog with doubles for the ports and the folder browser, and a real
// settings store in a temporary INI file whose writes are also logged, so that
// port writes and settings writes can be checked in one sequence.
#include "platform/QtServices.h"
#include "platform/testing/FakeServices.h"
#include "setup/MIDISetupForm.h"
#include "setup/SettingsKeys.h"

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
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
    QString read(const QString& key, const QString& defaultValue) const override
    {
        return real_.read(key, defaultValue);
    }
    void write(const QString& key, const QString& text) override
    {
        log_.add("settings." + key.toStdString() + "=" + text.toStdString());
        real_.write(key, text);
    }

private:
    QSettingsStore real_;
    CallLog& log_;
};

class SetupDialog : public ::testing::Test {
protected:
    QString iniPath() const { return dir.filePath(QStringLiteral("settings.ini")); }
    void store(const QString& key, const QString& text) { QSettingsStore(iniPath()).write(key, text); }
    QString stored(const QString& key) const { return QSettingsStore(iniPath()).read(key, QStringLiteral("<absent>")); }

    //! Shows the dialog modally; `whileShown` runs inside its event loop and must
    //! leave it by Set or Cancel.
    void show(const std::function<void(MIDISetupForm&)>& whileShown)
    {
        QTimer::singleShot(0, [this, whileShown] {
            MIDISetupForm* f = form.get();
            ASSERT_NE(f, nullptr);
            EXPECT_TRUE(f->isVisible() && f->isModal());
            whileShown(*f);
            if (f->isVisible()) {
                ADD_FAILURE() << "the dialog was left open";
                f->reject();
            }
        });
        MIDISetupForm::showModal(form, services, MAIN, &owner);
    }
    static void clickSet(MIDISetupForm& f) { f.cmdSet->click(); }
    static void clickCancel(MIDISetupForm& f) { f.cmdCancel->click(); }

    QTemporaryDir dir;
    FakeServices fake;
    LoggedIniStore settings{iniPath(), fake.log};
    Services services{fake.in, fake.out, fake.dialog, fake.boxes, settings, fake.folders, fake.beeper, fake.loop};
    DumpState MAIN;
    QWidget owner;
    std::unique_ptr<MIDISetupForm> form;  // after `owner`, so it goes first
};

TEST_F(SetupDialog, StoredNumbersSelectEntriesAndSetStoresTheSelection)
{
    struct Case {
        const char* what;
        const char* in;  // nullptr: not stored
        const char* out;
        int inputs, outputs;
        int inPos, outPos;  // selected on load
        int inOpened, outOpened;  // devices the ports are left on
        const char* storedIn;
        const char* storedOut;
    };
    const Case cases[] = {
        {"nothing stored", nullptr, nullptr, 2, 2, 0, 1, 0, 0, " 0", " 0"},
        {"stored second input, mapper", " 1", "-1", 2, 2, 1, 0, 1, -1, " 1", "-1"},
        {"stale: devices removed", " 7", " 5", 2, 2, 1, 2, 1, 1, " 1", " 1"},
        {"below the lists", "-3", "-4", 2, 2, 0, 0, 0, -1, " 0", "-1"},
        {"not numbers", "abc", "x1", 2, 2, 0, 1, 0, 0, " 0", " 0"},
        {"no devices at all", nullptr, nullptr, 0, 0, -1, 0, -1, -1, "-1", "-1"},
        {"devices added", " 2", " 2", 3, 3, 2, 3, 2, 2, " 2", " 2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir caseDir;
        FakeServices f;
        LoggedIniStore s{caseDir.filePath(QStringLiteral("s.ini")), f.log};
        if (c.in)
            s.write(settings::kMIDIInputDeviceID, QString::fromLatin1(c.in));
        if (c.out)
            s.write(settings::kMIDIOutputDeviceID, QString::fromLatin1(c.out));
        f.log.clear();
        f.in.deviceNames = {QStringLiteral("In A"), QStringLiteral("In B"), QStringLiteral("In C")};
        f.out.deviceNames = {QStringLiteral("Out A"), QStringLiteral("Out B"), QStringLiteral("Out C")};
        f.in.deviceNames.resize(c.inputs);
        f.out.deviceNames.resize(c.outputs);
        Services sv{f.in, f.out, f.dialog, f.boxes, s, f.folders, f.beeper, f.loop};

        MIDISetupForm dialog(sv, MAIN, &owner);
        EXPECT_EQ(dialog.cmbMIDIInDevice->count(), c.inputs);
        EXPECT_EQ(dialog.cmbMIDIOutDevice->count(), c.outputs + 1);
        EXPECT_EQ(dialog.cmbMIDIInDevice->currentIndex(), c.inPos);
        EXPECT_EQ(dialog.cmbMIDIOutDevice->currentIndex(), c.outPos);
        EXPECT_EQ(f.in.deviceID, c.inOpened);
        EXPECT_EQ(f.out.deviceID, c.outOpened);
        EXPECT_EQ(f.in.state, MIDIInput::Opened);
        EXPECT_EQ(f.out.state, MIDIOutput::Opened);

        dialog.cmdSet_Click();
        EXPECT_EQ(s.read(settings::kMIDIInputDeviceID, {}), QString::fromLatin1(c.storedIn));
        EXPECT_EQ(s.read(settings::kMIDIOutputDeviceID, {}), QString::fromLatin1(c.storedOut));
    }
}

TEST_F(SetupDialog, ListsShowTheDeviceNamesWithTheMapperFirst)
{
    MIDISetupForm dialog(services, MAIN, &owner);
    auto items = [](QComboBox* c) {
        QStringList l;
        for (int i = 0; i < c->count(); ++i)
            l << c->itemText(i);
        return l;
    };
    EXPECT_EQ(items(dialog.cmbMIDIInDevice), QStringList({"Fake In A", "Fake In B"}));
    EXPECT_EQ(items(dialog.cmbMIDIOutDevice), QStringList({"Fake Mapper", "Fake Out A", "Fake Out B"}));
}

TEST_F(SetupDialog, PortWritesInOrder)
{
    const Log enumerate = {"in.DeviceID=0", "in.DeviceID=1"};
    const Log filtersOn = {"in.Filter(249)=1", "in.Filter(254)=1", "in.Filter(248)=1"};
    const Log reopenIn = {"in.Command=2", "in.Filter(249)=0", "in.Filter(254)=0", "in.Filter(248)=0"};
    auto join = [](std::initializer_list<Log> parts) {
        Log all;
        for (const Log& p : parts)
            all.insert(all.end(), p.begin(), p.end());
        return all;
    };
    struct Case {
        const char* what;
        const char* storedOut;
        bool inputAlreadyOpen;
        std::function<void(MIDISetupForm&)> act;  // after the load
        Log expected;
    };
    const std::vector<Case> cases = {
        {"load, nothing stored", nullptr, false, nullptr,
         join({enumerate, {"in.DeviceID=0", "in.DeviceID=0", "in.Command=1"}, filtersOn,
               {"out.DeviceID=-1", "out.DeviceID=0", "out.DeviceID=1", "out.DeviceID=0", "out.DeviceID=0",
                "out.Command=1"}})},
        {"load on the mapper closes it first even when closed", "-1", false, nullptr,
         join({enumerate, {"in.DeviceID=0", "in.DeviceID=0", "in.Command=1"}, filtersOn,
               {"out.DeviceID=-1", "out.DeviceID=0", "out.DeviceID=1", "out.DeviceID=-1", "out.Command=2",
                "out.DeviceID=-1", "out.Command=1"}})},
        {"load with the input open lifts its filters first", " 0", true, nullptr,
         join({enumerate, {"in.DeviceID=0"}, reopenIn, {"in.DeviceID=0", "in.Command=1"}, filtersOn,
               {"out.DeviceID=-1", "out.DeviceID=0", "out.DeviceID=1", "out.DeviceID=0", "out.DeviceID=0",
                "out.Command=1"}})},
        {"Set on the second input and the mapper", nullptr, false,
         [](MIDISetupForm& f) {
             f.cmbMIDIInDevice->setCurrentIndex(1);
             f.cmbMIDIOutDevice->setCurrentIndex(0);
             f.cmdSet->click();
         },
         join({reopenIn, {"in.DeviceID=1", "in.Command=1"}, filtersOn,
               {"out.Command=2", "out.DeviceID=-1", "out.Command=1", "settings.User Setup?=1",
                "settings.MIDI Input Device ID= 1", "settings.MIDI Output Device ID=-1"}})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir caseDir;
        FakeServices f;
        LoggedIniStore s{caseDir.filePath(QStringLiteral("s.ini")), f.log};
        if (c.storedOut)
            s.write(settings::kMIDIOutputDeviceID, QString::fromLatin1(c.storedOut));
        if (c.inputAlreadyOpen)
            f.in.state = MIDIInput::Opened;
        f.log.clear();
        Services sv{f.in, f.out, f.dialog, f.boxes, s, f.folders, f.beeper, f.loop};
        MIDISetupForm dialog(sv, MAIN, &owner);
        if (c.act) {
            f.log.clear();
            c.act(dialog);
        }
        EXPECT_EQ(f.log.entries(), c.expected);
    }
}

TEST_F(SetupDialog, SetStoresInOrderAndKeepsTheDialogLoadedAndHidden)
{
    MAIN.sUserFolder = QStringLiteral("/home/user/patches");
    show(clickSet);
    EXPECT_EQ(fake.log.only("settings."),
              Log({"settings.User Setup?=1", "settings.MIDI Input Device ID= 0", "settings.MIDI Output Device ID= 0",
                   "settings.UserFolder=/home/user/patches"}));
    // Read back from the file through a store of its own: the blanks survive.
    EXPECT_EQ(stored(settings::kUserSetup), "1");
    EXPECT_EQ(stored(settings::kMIDIInputDeviceID), " 0");
    EXPECT_EQ(stored(settings::kMIDIOutputDeviceID), " 0");
    EXPECT_EQ(stored(settings::kUserFolder), "/home/user/patches");
    ASSERT_NE(form, nullptr);
    EXPECT_FALSE(form->isVisible());
}

TEST_F(SetupDialog, SetThenShowingAgainAsksThePortsNothing)
{
    show([](MIDISetupForm& f) {
        f.cmbMIDIInDevice->setCurrentIndex(1);
        f.cmdSet->click();
    });
    const int inQueries = fake.in.deviceQueries;
    const int outQueries = fake.out.deviceQueries;
    const std::size_t logged = fake.log.entries().size();
    fake.in.deviceNames << QStringLiteral("Plugged in later");
    MIDISetupForm* first = form.get();

    show([](MIDISetupForm& f) {
        EXPECT_EQ(f.cmbMIDIInDevice->count(), 2);
        EXPECT_EQ(f.cmbMIDIInDevice->currentIndex(), 1);
        f.cmdCancel->click();
    });
    EXPECT_EQ(fake.in.deviceQueries, inQueries);
    EXPECT_EQ(fake.out.deviceQueries, outQueries);
    EXPECT_EQ(fake.log.entries().size(), logged);  // no port reopened, nothing written
    EXPECT_EQ(form, nullptr);

    // Unloaded by the Cancel, so the next showing lists the new device.
    show([first](MIDISetupForm& f) {
        EXPECT_NE(&f, first);
        EXPECT_EQ(f.cmbMIDIInDevice->count(), 3);
        EXPECT_EQ(f.cmbMIDIInDevice->currentIndex(), 1);  // as stored by the Set
        f.cmdCancel->click();
    });
}

TEST_F(SetupDialog, CancelWritesNothingAndLeavesThePortsOnTheStoredDevices)
{
    struct Case {
        const char* what;
        std::function<void(MIDISetupForm&)> leave;
    };
    const Case cases[] = {
        {"Cancel button", clickCancel},
        {"Esc", [](MIDISetupForm& f) {
             QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
             QCoreApplication::sendEvent(f.cmbMIDIOutDevice, &esc);
         }},
        {"window closed", [](MIDISetupForm& f) { f.close(); }},
    };
    store(settings::kMIDIInputDeviceID, QStringLiteral(" 1"));
    store(settings::kMIDIOutputDeviceID, QStringLiteral(" 0"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fake.log.clear();
        Log afterLoad;
        show([&](MIDISetupForm& f) {
            f.cmbMIDIInDevice->setCurrentIndex(0);
            f.cmbMIDIOutDevice->setCurrentIndex(0);
            afterLoad = fake.log.entries();
            c.leave(f);
        });
        EXPECT_EQ(fake.log.entries(), afterLoad);
        EXPECT_TRUE(fake.log.only("settings.").empty());
        EXPECT_EQ(fake.in.deviceID, 1);
        EXPECT_EQ(fake.out.deviceID, 0);
        EXPECT_EQ(form, nullptr);
    }
}

TEST_F(SetupDialog, EnterConfirmsOnlyFromTheSetButton)
{
    struct Case {
        const char* what;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        std::function<QWidget*(MIDISetupForm&)> focus;
        bool stored;
    };
    const Case cases[] = {
        {"Return in the input list", Qt::Key_Return, Qt::NoModifier,
         [](MIDISetupForm& f) -> QWidget* { return f.cmbMIDIInDevice; }, false},
        {"keypad Enter in the output list", Qt::Key_Enter, Qt::KeypadModifier,
         [](MIDISetupForm& f) -> QWidget* { return f.cmbMIDIOutDevice; }, false},
        {"Return on the Set button", Qt::Key_Return, Qt::NoModifier,
         [](MIDISetupForm& f) -> QWidget* { return f.cmdSet; }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir caseDir;
        FakeServices f;
        LoggedIniStore s{caseDir.filePath(QStringLiteral("s.ini")), f.log};
        Services sv{f.in, f.out, f.dialog, f.boxes, s, f.folders, f.beeper, f.loop};
        std::unique_ptr<MIDISetupForm> dialog;
        bool wasOpen = false;
        QTimer::singleShot(0, [&] {
            QWidget* target = c.focus(*dialog);
            dialog->activateWindow();
            target->setFocus();
            QKeyEvent key(QEvent::KeyPress, c.key, c.modifiers);
            QCoreApplication::sendEvent(target, &key);
            wasOpen = dialog->isVisible();
            if (wasOpen)
                dialog->cmdCancel->click();
        });
        MIDISetupForm::showModal(dialog, sv, MAIN, &owner);
        EXPECT_EQ(wasOpen, !c.stored);
        EXPECT_EQ(f.log.only("settings.").empty(), !c.stored);
    }
}

TEST_F(SetupDialog, FolderChoiceGoesToTheUserFolderAndToTheStoreOnSet)
{
    struct Case {
        const char* what;
        std::optional<QString> browsed;
        QString folder;  // sUserFolder afterwards
        QString stored;  // "UserFolder" after Set
    };
    const Case cases[] = {
        {"cancelled", std::nullopt, "/old/folder", "/old/folder"},
        {"chosen", QStringLiteral("/new/folder"), "/new/folder", "/new/folder"},
        {"item without a path", QString(), QString(), "/stored/before"},
        {"text after a NUL", QStringLiteral("/a/b") + QChar(u'\0') + QStringLiteral("junk"), "/a/b", "/a/b"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        store(settings::kUserFolder, QStringLiteral("/stored/before"));
        MAIN.sUserFolder = QStringLiteral("/old/folder");
        fake.folders.answers = {c.browsed};
        MIDISetupForm* shown = nullptr;
        show([&](MIDISetupForm& f) {
            shown = &f;
            f.cmdSelectDefaultSysexFolder->click();
            EXPECT_EQ(MAIN.sUserFolder, c.folder);  // at once, before any Set
            f.cmdSet->click();
        });
        EXPECT_EQ(fake.folders.lastOwner, shown);
        EXPECT_EQ(fake.folders.lastTitle, "Select a folder for your SysEx files and click OK. Tandrel will search "
                                          "or save in the selected folder first.");
        EXPECT_EQ(stored(settings::kUserFolder), c.stored);
        form.reset();
    }
}

TEST_F(SetupDialog, LayoutInPixelsAtFifteenTwipsEach)
{
    MIDISetupForm dialog(services, MAIN, &owner);
    EXPECT_EQ(dialog.windowTitle(), "MIDI Setup");
    EXPECT_EQ(dialog.size(), QSize(302, 185));
    EXPECT_EQ(dialog.parentWidget(), &owner);
    struct Case {
        QWidget* control;
        QWidget* parent;
        QString text;
        QRect pixels;
    };
    const Case cases[] = {
        {dialog.frmSetUpMIDI, &dialog, QStringLiteral("Setup MIDI Devices") + QString(15, u' '), {8, 14, 198, 126}},
        {dialog.Label1[0], dialog.frmSetUpMIDI, "MIDI In Device", {14, 23, 120, 20}},
        {dialog.cmbMIDIInDevice, dialog.frmSetUpMIDI, {}, {10, 41, 176, 21}},
        {dialog.Label1[1], dialog.frmSetUpMIDI, "MIDI Out Device", {14, 73, 120, 18}},
        {dialog.cmbMIDIOutDevice, dialog.frmSetUpMIDI, {}, {11, 91, 176, 21}},
        {dialog.cmdSet, &dialog, "&Set", {222, 20, 68, 25}},
        {dialog.cmdCancel, &dialog, "&Cancel", {222, 52, 68, 25}},
        {dialog.cmdSelectDefaultSysexFolder, &dialog, "Select Default SysEx &Folder", {8, 148, 197, 25}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        EXPECT_EQ(c.control->parentWidget(), c.parent);
        EXPECT_EQ(c.control->geometry(), c.pixels);
        if (auto* b = qobject_cast<QPushButton*>(c.control)) {
            EXPECT_EQ(b->text(), c.text);
            EXPECT_FALSE(b->isDefault() || b->autoDefault());
        } else if (auto* l = qobject_cast<QLabel*>(c.control)) {
            EXPECT_EQ(l->text(), c.text);
        } else if (auto* g = qobject_cast<QGroupBox*>(c.control)) {
            EXPECT_EQ(g->title(), c.text);
        }
    }
}

}  // namespace
