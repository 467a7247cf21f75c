// SPDX-License-Identifier: GPL-3.0-or-later
// The main window with every service doubled: start-up, the Ready state, Quit and
// the unload, as seen through the ports, the settings and the message boxes.
#include "app/frmMain.h"
#include "platform/testing/FakeServices.h"
#include "setup/SettingsKeys.h"

#include <QLabel>
#include <QPushButton>

#include <gtest/gtest.h>

using namespace tandrel;
using namespace tandrel::testing;
using Log = std::vector<std::string>;

namespace {

const QString kQuitPrompt = QStringLiteral(
    "You received a bulk dump but have not saved it as a file. Do you want to save it before quitting Tandrel?");

const Log kOpenedOnStoredDevices = {
    "in.Command=1", "in.Filter(249)=1", "in.Filter(176)=1", "in.Filter(192)=1", "in.Filter(254)=1",
    "in.Filter(248)=1",
};

Log concat(std::initializer_list<Log> parts)
{
    Log all;
    for (const Log& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

}  // namespace

TEST(MainWindowStartUp, WritesThePortsInOrder)
{
    struct Case {
        const char* name;
        QMap<QString, QString> stored;
        std::int16_t inState, outState;
        Log expected;
    } cases[] = {
        {"later run, nothing else stored", {{settings::kUserSetup, "1"}}, 0, 0,
         concat({{"in.SysexBufferSize=125000", "in.DeviceID=0"}, kOpenedOnStoredDevices,
                 {"out.DeviceID=0", "out.Command=1", "in.Command=4"}})},
        {"stored devices", {{settings::kUserSetup, "1"}, {settings::kMIDIInputDeviceID, " 1"}, {settings::kMIDIOutputDeviceID, " 2"}}, 0, 0,
         concat({{"in.SysexBufferSize=125000", "in.DeviceID=1"}, kOpenedOnStoredDevices,
                 {"out.DeviceID=2", "out.Command=1", "in.Command=4"}})},
        {"input already open", {{settings::kUserSetup, "1"}}, 1, 0,
         concat({{"in.SysexBufferSize=125000", "in.Command=2", "in.DeviceID=0"}, kOpenedOnStoredDevices,
                 {"out.DeviceID=0", "out.Command=1", "in.Command=4"}})},
        {"input already delivering, output open", {{settings::kUserSetup, "1"}}, 2, 1,
         concat({{"in.SysexBufferSize=125000", "in.Command=2", "in.DeviceID=0"}, kOpenedOnStoredDevices,
                 {"out.DeviceID=0", "out.Command=2", "out.Command=1", "in.Command=4"}})},
        {"output on the mapper, closed", {{settings::kUserSetup, " 3"}, {settings::kMIDIOutputDeviceID, "-1"}}, 0, 0,
         concat({{"in.SysexBufferSize=125000", "in.DeviceID=0"}, kOpenedOnStoredDevices,
                 {"out.DeviceID=-1", "out.Command=2", "out.Command=1", "in.Command=4"}})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeServices fake;
        fake.settings.values = c.stored;
        fake.in.state = c.inState;
        fake.out.state = c.outState;
        DumpState MAIN;
        frmMain w(fake.services, MAIN);
        w.Form_Load();
        EXPECT_EQ(fake.log.entries(), c.expected);
        EXPECT_EQ(fake.in.state, MIDIInput::Delivering);
        EXPECT_EQ(fake.out.state, MIDIOutput::Opened);
        EXPECT_TRUE(fake.settings.writes.empty()) << "start-up never writes the settings";
        EXPECT_EQ(w.setupForm(), nullptr);
    }
}

TEST(MainWindowStartUp, ShowsTheReadyStateWithTheStoredOrDefaultFolder)
{
    struct Case {
        std::optional<QString> storedFolder;
        QString expected;
    } cases[] = {{std::nullopt, settings::ExecutableFolder()}, {QStringLiteral("/srv/gt3 dumps"), QStringLiteral("/srv/gt3 dumps")}};
    for (const Case& c : cases) {
        FakeServices fake;
        fake.settings.values[settings::kUserSetup] = "1";
        if (c.storedFolder)
            fake.settings.values[settings::kUserFolder] = *c.storedFolder;
        DumpState MAIN;
        MAIN.sSysexData = "stale";
        MAIN.lByteCount = 99;
        frmMain w(fake.services, MAIN);
        w.Form_Load();
        EXPECT_EQ(MAIN.sUserFolder, c.expected);
        EXPECT_EQ(w.statusText(), "Ready to Receive or Open");
        EXPECT_EQ(w.lblStatus->text(), "Ready to Receive or Open");
        EXPECT_EQ(w.statusColour(), frmMain::kGreen);
        EXPECT_EQ(w.lblStatus->palette().color(QPalette::WindowText), QColor(0, 255, 0));
        EXPECT_EQ(w.lblStatus->palette().color(QPalette::Window), QColor(40, 44, 79));
        EXPECT_TRUE(MAIN.sSysexData.empty());
        EXPECT_EQ(MAIN.lByteCount, 0);
        EXPECT_FALSE(w.bDumpUnsaved);
        EXPECT_FALSE(w.proSend->isVisibleTo(&w));
        EXPECT_TRUE(fake.boxes.boxes.empty());
    }
}

TEST(MainWindow, LaysOutItsControlsOnTheFace)
{
    FakeServices fake;
    DumpState MAIN;
    frmMain w(fake.services, MAIN);
    EXPECT_EQ(w.size(), QSize(451, 238));
    struct Case {
        QPushButton* button;
        const char* caption;
        QRect geometry;
    } cases[] = {
        {w.cmdReceive, "Receive", {56, 101, 84, 34}}, {w.cmdSave, "Save", {144, 101, 79, 34}},
        {w.cmdOpen, "Open", {227, 101, 79, 34}},      {w.cmdSend, "Send", {310, 101, 84, 34}},
        {w.cmdSetup, "Setup", {109, 181, 74, 21}},    {w.cmdAbout, "About", {187, 181, 74, 21}},
        {w.cmdQuit, "Quit", {265, 181, 74, 21}},      {w.cmdMinimize, "\u2013", {287, 6, 16, 15}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.button->text(), QString::fromUtf8(c.caption));
        EXPECT_EQ(c.button->geometry(), c.geometry) << c.caption;
    }
    EXPECT_EQ(w.lblStatus->geometry(), QRect(72, 145, 309, 27));
    EXPECT_EQ(w.proSend->geometry(), QRect(61, 81, 327, 14));
    // The focus sink lies below the face, where it is never seen.
    EXPECT_GE(w.cmdFocus->geometry().top(), w.height());
    // Tab order: Receive, Save, Open, Send, Setup, About, Quit, and round again.
    QWidget* expected[] = {w.cmdSave, w.cmdOpen, w.cmdSend, w.cmdSetup, w.cmdAbout, w.cmdQuit};
    QWidget* at = w.cmdReceive;
    for (QWidget* next : expected) {
        at = at->nextInFocusChain();
        while (!(at->focusPolicy() & Qt::TabFocus))
            at = at->nextInFocusChain();
        EXPECT_EQ(at, next);
    }
    EXPECT_FALSE(w.cmdFocus->focusPolicy() & Qt::TabFocus);
    EXPECT_FALSE(w.cmdMinimize->focusPolicy() & Qt::TabFocus);
}

TEST(MainWindowQuit, AsksToSaveAnUnsavedDumpFirst)
{
    struct Case {
        const char* name;
        bool unsaved;
        std::optional<int> answer;  // nothing: no prompt expected
        bool saveDialogShown;
        bool quits;
    } cases[] = {
        {"nothing unsaved", false, std::nullopt, false, true},
        {"Yes: save, then quit", true, MessageBoxes::vbYes, true, true},
        {"No: quit without saving", true, MessageBoxes::vbNo, false, true},
        {"Cancel: carry on", true, MessageBoxes::vbCancel, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeServices fake;
        fake.settings.values[settings::kUserSetup] = "1";
        DumpState MAIN;
        frmMain w(fake.services, MAIN);
        w.Form_Load();
        w.show();
        MAIN.sSysexData = "\xF0\x41\xF7";
        w.bDumpUnsaved = c.unsaved;
        if (c.answer)
            fake.boxes.answers.push_back(*c.answer);
        fake.dialog.willCancel();
        fake.log.clear();

        w.cmdQuit->click();

        if (c.answer) {
            ASSERT_EQ(fake.boxes.boxes.size(), 1u);
            EXPECT_EQ(fake.boxes.boxes[0].prompt, kQuitPrompt);
            EXPECT_EQ(fake.boxes.boxes[0].style, MessageBoxes::vbYesNoCancelQuestion);
            EXPECT_EQ(fake.boxes.boxes[0].title, "Tandrel");
            EXPECT_EQ(w.vMsg.toString(), kQuitPrompt);
            EXPECT_EQ(w.vStyle.toInt(), 35);
            EXPECT_EQ(w.vResponse.toInt(), *c.answer);
        } else {
            EXPECT_TRUE(fake.boxes.boxes.empty());
        }
        EXPECT_EQ(fake.dialog.shown.size(), c.saveDialogShown ? 1u : 0u);
        EXPECT_EQ(w.unloaded(), c.quits);
        EXPECT_EQ(fake.loop.ends, c.quits ? 1 : 0);
        if (!c.quits) {
            EXPECT_TRUE(fake.log.only("in.").empty() && fake.log.only("out.").empty()) << "Cancel changes nothing";
            EXPECT_EQ(MAIN.sSysexData, "\xF0\x41\xF7");
            EXPECT_TRUE(w.bDumpUnsaved);
        }
    }
}

TEST(MainWindowUnload, StopsAndClosesThePortsWhateverClosesTheWindow)
{
    struct Case {
        std::int16_t inState;
        Log expected;
    } cases[] = {
        {MIDIInput::Closed, {"out.Command=2", "End"}},
        {MIDIInput::Opened, {"in.Command=2", "out.Command=2", "End"}},
        {MIDIInput::Delivering, {"in.Command=5", "in.Command=2", "out.Command=2", "End"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.inState);
        FakeServices fake;
        DumpState MAIN;
        frmMain w(fake.services, MAIN);
        w.show();
        // An unsaved dump does not stop a close that is not Quit.
        w.bDumpUnsaved = true;
        fake.in.state = c.inState;
        fake.out.state = MIDIOutput::Closed;
        w.close();
        w.close();  // a second close request finds the program already ended
        EXPECT_EQ(fake.log.entries(), c.expected);
        EXPECT_TRUE(fake.boxes.boxes.empty());
        EXPECT_TRUE(w.unloaded());
    }
}

TEST(MainWindow, MinimiseButtonMinimisesTheWindow)
{
    FakeServices fake;
    DumpState MAIN;
    frmMain w(fake.services, MAIN);
    w.show();
    w.cmdMinimize->click();
    EXPECT_TRUE(w.windowState() & Qt::WindowMinimized);
}
