// SPDX-License-Identifier: GPL-3.0-or-later
// The main window with every service doubled: start-up, the Ready state and the
// unload (Quit's question is among the save-first prompts of the dump tests).
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

struct Window {
    FakeServices fake;
    DumpState MAIN;
    frmMain w{fake.services, MAIN};
};

}  // namespace

TEST(MainWindowStartUp, OpensThePortsInOrderAndShowsReady)
{
    const Log opened = {"in.Command=1",     "in.Filter(249)=1", "in.Filter(176)=1",
                        "in.Filter(192)=1", "in.Filter(254)=1", "in.Filter(248)=1"};
    struct Case {
        const char* name;
        QMap<QString, QString> stored;
        std::int16_t inState, outState;
        Log in, out;         // the writes before the input's opening, and the output's
        const char* folder;  // nullptr: the executable's folder
    } cases[] = {
        {"later run", {{settings::kUserSetup, "1"}}, 0, 0, {"in.DeviceID=0"}, {"out.DeviceID=0"}, nullptr},
        {"input open, stored devices and folder",
         {{settings::kUserSetup, "1"}, {settings::kMIDIInputDeviceID, " 1"}, {settings::kMIDIOutputDeviceID, " 2"},
          {settings::kUserFolder, "/srv/gt3 dumps"}},
         1, 0, {"in.Command=2", "in.DeviceID=1"}, {"out.DeviceID=2"}, "/srv/gt3 dumps"},
        {"input delivering, output open", {{settings::kUserSetup, "1"}}, 2, 1, {"in.Command=2", "in.DeviceID=0"},
         {"out.DeviceID=0", "out.Command=2"}, nullptr},
        {"output on the mapper, closed", {{settings::kUserSetup, " 3"}, {settings::kMIDIOutputDeviceID, "-1"}}, 0, 0,
         {"in.DeviceID=0"}, {"out.DeviceID=-1", "out.Command=2"}, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Window win;
        win.fake.settings.values = c.stored;
        win.fake.in.state = c.inState;
        win.fake.out.state = c.outState;
        win.MAIN.sSysexData = "stale";
        win.MAIN.lByteCount = 99;
        win.w.Form_Load();
        Log want = {"in.SysexBufferSize=125000"};
        for (const Log& part : {c.in, opened, c.out, Log{"out.Command=1", "in.Command=4"}})
            want.insert(want.end(), part.begin(), part.end());
        EXPECT_EQ(win.fake.log.entries(), want);
        EXPECT_TRUE(win.fake.settings.writes.empty() && win.fake.boxes.boxes.empty());
        EXPECT_EQ(win.MAIN.sUserFolder, c.folder ? QString(c.folder) : settings::ExecutableFolder());
        // Ready: an empty dump, green text on navy, no progress bar.
        EXPECT_EQ(win.w.lblStatus->text(), "Ready to Receive or Open");
        EXPECT_EQ(win.w.lblStatus->palette().color(QPalette::WindowText), QColor(0, 255, 0));
        EXPECT_EQ(win.w.lblStatus->palette().color(QPalette::Window), QColor(40, 44, 79));
        EXPECT_TRUE(win.MAIN.sSysexData.empty() && win.MAIN.lByteCount == 0 && !win.w.bDumpUnsaved);
        EXPECT_FALSE(win.w.proSend->isVisibleTo(&win.w));
    }
}

TEST(MainWindowUnload, StopsAndClosesThePortsWhateverClosesTheWindow)
{
    const struct {
        std::int16_t inState; Log expected;
    } cases[] = {
        {MIDIInput::Closed, {"out.Command=2", "End"}},
        {MIDIInput::Opened, {"in.Command=2", "out.Command=2", "End"}},
        {MIDIInput::Delivering, {"in.Command=5", "in.Command=2", "out.Command=2", "End"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.inState);
        Window win;
        win.w.show();
        win.w.bDumpUnsaved = true;  // only Quit asks about it
        win.fake.in.state = c.inState;
        win.w.close();
        win.w.close();  // a second request finds the program already ended
        EXPECT_EQ(win.fake.log.entries(), c.expected);
        EXPECT_TRUE(win.fake.boxes.boxes.empty());
        EXPECT_TRUE(win.w.unloaded());
    }
}
