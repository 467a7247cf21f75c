// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's Save and Open commands. Each runs with failures ignored step
// by step: a step that fails is skipped and the next one runs, so the command
// always reaches its end.
#include "app/frmMain.h"

#include "dump/IgnoreFailure.h"
#include "dump/SyxFile.h"
#include "setup/PortOpening.h"
#include "setup/SettingsKeys.h"

#include <QPushButton>

namespace tandrel {

void frmMain::setUpFileDialog(bool saving)
{
    IgnoreFailure([&] { dsCmDlg.DefaultExtension = QStringLiteral("syx"); });
    IgnoreFailure([&] {
        dsCmDlg.DialogFlags = saving ? (FileDialog::Explorer | FileDialog::HideReadOnly | FileDialog::OverwritePrompt)
                                     : (FileDialog::Explorer | FileDialog::HideReadOnly);
    });
    // The two descriptions differ in word order.
    IgnoreFailure([&] {
        dsCmDlg.FileFilter = saving ? QStringLiteral("*.syx -- GT-3 SysEx Bulk Dump Files|*.syx")
                                    : QStringLiteral("*.syx -- GT-3 Bulk Dump SysEx Files|*.syx");
    });
    // Only the save dialog is owned by the main window.
    IgnoreFailure([&] { dsCmDlg.OwnerWindow = saving ? this : nullptr; });
    IgnoreFailure([&] { dsCmDlg.InitialFolder = MAIN.sUserFolder; });
    IgnoreFailure([&] { dsCmDlg.CancelCaption = QStringLiteral("Cancel"); });
    IgnoreFailure([&] { dsCmDlg.OKCaption = saving ? QStringLiteral("Save") : QStringLiteral("Send"); });
}

void frmMain::cmdSave_Click()
{
    if (MAIN.sSysexData.empty()) {
        IgnoreFailure([&] {
            services_.messageBoxes.MsgBox(QStringLiteral("There's no GT-3 data to save."), MessageBoxes::vbOKOnly,
                                          kTitle);
        });
        return;
    }
    setUpFileDialog(true);
    IgnoreFailure([&] { dsCmDlg.ShowSaveDialog(); });
    if (dsCmDlg.Cancelled()) {
        IgnoreFailure([&] { cmdFocus->setFocus(); });
        return;
    }
    // A write that fails still counts as a completed save.
    IgnoreFailure([&] { return WriteSyxFile(dsCmDlg.FilePath(), MAIN.sSysexData); });
    bDumpUnsaved = false;
    MAIN.sSysexData.clear();
    IgnoreFailure([&] { dumpReplaced(); });
    IgnoreFailure([&] { setStatusColour(kGreen); });
    IgnoreFailure([&] { cmdFocus->setFocus(); });
}

void frmMain::cmdOpen_Click()
{
    bool goOn = true;
    if (bDumpUnsaved) {
        IgnoreFailure([&] {
            goOn = offerToSaveFirst(QStringLiteral("You received a bulk dump but have not saved it as a file. "
                                                   "Do you want to save it before opening a sysex file?"));
        });
    }
    if (!goOn)
        return;
    setUpFileDialog(false);
    IgnoreFailure([&] { dsCmDlg.ShowOpenDialog(); });
    if (dsCmDlg.Cancelled()) {
        IgnoreFailure([&] { cmdFocus->setFocus(); });
        return;
    }
    MAIN.sSysexData.clear();
    ++filesOpened_;
    QString displayName;
    IgnoreFailure([&] {
        // The path without its folder part; it begins with a separator when the
        // folder part does not end with one.
        displayName = dsCmDlg.FilePath().mid(dsCmDlg.FolderPath().size());
    });
    IgnoreFailure([&] { return ReadSyxFile(dsCmDlg.FilePath(), MAIN.sSysexData); });
    IgnoreFailure([&] { dumpReplaced(); });
    IgnoreFailure([&] { cmdFocus->setFocus(); });
    IgnoreFailure([&] {
        setStatusText(QLatin1Char(' ') + displayName + QStringLiteral(" open") + QLatin1Char('\r')
                      + QStringLiteral("  Set GT-3 to receive; click Send to transmit."));
    });
    for (const int status : kStoredInputFilters)
        IgnoreFailure([&] { MIDIInput1.setFilter(status, true); });

    // The output is reopened on the stored device, found by its name where one is
    // stored; a stored −1 always closes first, and an absent device stays closed.
    IgnoreFailure([&] {
        MIDIOutput1.setDeviceID(StoredOutputDevice(MIDIOutput1, services_.settings, services_.messageBoxes));
    });
    IgnoreFailure([&] {
        if (MIDIOutput1.State() >= MIDIOutput::Opened || MIDIOutput1.DeviceID() == MIDIOutput::MidiMapper)
            MIDIOutput1.setCommand(MIDIOutput::Close);
    });
    IgnoreFailure([&] {
        if (MIDIOutput1.DeviceID() != kAbsentDevice)
            MIDIOutput1.setCommand(MIDIOutput::Open);
    });
}

}  // namespace tandrel
