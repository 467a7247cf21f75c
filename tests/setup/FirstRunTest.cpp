// SPDX-License-Identifier: GPL-3.0-or-later
// The first start: the real main window's start-up with doubles for the outside,
// the setup dialog driven from inside its modal loop.
#include "app/frmMain.h"
#include "platform/testing/FakeServices.h"
#include "setup/MIDISetupForm.h"
#include "setup/SettingsKeys.h"

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

using namespace tandrel;
using namespace tandrel::testing;
using Log = std::vector<std::string>;

namespace {

Log join(std::initializer_list<Log> parts)
{
    Log all;
    for (const Log& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

const Log kDialogLoad = {
    "in.SysexBufferSize=125000",
    "in.DeviceID=0", "in.DeviceID=1", "in.DeviceID=0",                       // listed, then the stored one
    "in.DeviceID=0", "in.Command=1", "in.Filter(249)=1", "in.Filter(254)=1", "in.Filter(248)=1",
    "out.DeviceID=-1", "out.DeviceID=0", "out.DeviceID=1", "out.DeviceID=0",  // listed, then the stored one
    "out.DeviceID=0", "out.Command=1"};

//! Start-up's own opening on the stored numbers, after the dialog, then ResetToReady.
Log startupOpening(const std::string& in, const std::string& out)
{
    return {"in.Command=2", "in.DeviceID=" + in, "in.Command=1", "in.Filter(249)=1", "in.Filter(176)=1",
            "in.Filter(192)=1", "in.Filter(254)=1", "in.Filter(248)=1", "out.DeviceID=" + out, "out.Command=2",
            "out.Command=1", "in.Command=4"};
}

//! Runs start-up; `inDialog` runs when the setup dialog is up. Returns whether it came.
bool startUp(frmMain& main, const std::function<void(MIDISetupForm&)>& inDialog)
{
    bool shown = false;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<MIDISetupForm*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        shown = true;
        EXPECT_EQ(dialog->parentWidget(), &main);
        inDialog(*dialog);
        if (dialog->isVisible()) {
            ADD_FAILURE() << "the dialog was left open";
            dialog->reject();
        }
    });
    main.Form_Load();
    QCoreApplication::processEvents();  // the timer, when no dialog ran it
    return shown;
}

TEST(FirstRun, SetupDialogComesBeforeThePortsOpenOnTheStoredDevices)
{
    struct Case {
        const char* what;
        QPushButton* MIDISetupForm::*button;
        Log expected;
        bool stillLoaded;  // and not shown at the next start
    };
    const std::vector<Case> cases = {
        {"Set", &MIDISetupForm::cmdSet,
         join({kDialogLoad,
               {"in.Command=2", "in.Filter(249)=0", "in.Filter(254)=0", "in.Filter(248)=0", "in.DeviceID=1",
                "in.Command=1", "in.Filter(249)=1", "in.Filter(254)=1", "in.Filter(248)=1", "out.Command=2",
                "out.DeviceID=-1", "out.Command=1",
                // No folder yet: start-up loads it only after the dialog.
                "settings.User Setup?=1", "settings.MIDI Input Device ID= 1", "settings.MIDI Output Device ID=-1"},
               startupOpening("1", "-1")}),
         true},
        {"Cancel", &MIDISetupForm::cmdCancel, join({kDialogLoad, startupOpening("0", "0")}), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeServices fake;
        DumpState MAIN;
        {
            frmMain main(fake.services, MAIN);
            ASSERT_TRUE(startUp(main, [&](MIDISetupForm& d) {
                d.cmbMIDIInDevice->setCurrentIndex(1);  // the second input and the mapper
                d.cmbMIDIOutDevice->setCurrentIndex(0);
                (d.*c.button)->click();
            }));
            EXPECT_EQ(fake.log.entries(), c.expected);
            EXPECT_EQ(main.setupForm() != nullptr, c.stillLoaded);
            EXPECT_EQ(main.statusText(), "Ready to Receive or Open");
            EXPECT_EQ(MAIN.sUserFolder, settings::ExecutableFolder());
        }
        // The next start asks again only when nothing was confirmed.
        frmMain next(fake.services, MAIN);
        EXPECT_EQ(startUp(next, [](MIDISetupForm& d) { d.cmdCancel->click(); }), !c.stillLoaded);
    }
}

}  // namespace
