// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "dump/DumpState.h"
#include "platform/Services.h"

#include <QDialog>

#include <array>
#include <memory>

class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;

namespace tandrel {

//! The setup dialog: chooses the MIDI input and output devices and the default
//! folder, reopens the ports on them and stores the choice.
//!
//! A stored device is selected by its stored name. One that is not connected is
//! listed as "<name> (not connected)" at the end of its list and stays chosen
//! until the user picks another; Set then keeps its stored name and number.
//! Without a stored name, a stored device number that is no longer a position in
//! its list (devices removed since it was stored, or a negative number) selects
//! the nearest valid entry: the first or the last one. An input list with no
//! devices at all has no entry selected; the input is then opened on device −1,
//! which the port refuses through its Error event, and Set stores "-1". Neither
//! stops the dialog or the program.
class MIDISetupForm : public QDialog {
    Q_OBJECT
public:
    //! The folder browser's title.
    static const QString kBrowseTitle;

    //! Loads the dialog: fills the device lists and (re)opens the ports.
    MIDISetupForm(Services& services, DumpState& MAIN, QWidget* owner);

    //! Shows the dialog modally, owned by `owner`, loading it into `form` first when
    //! it is not loaded. After Set it stays loaded and hidden; after Cancel it is
    //! unloaded and `form` is empty again.
    static void showModal(std::unique_ptr<MIDISetupForm>& form, Services& services, DumpState& MAIN,
                          QWidget* owner);

    //! Reopens the ports on the selected devices, stores the choice and hides.
    void cmdSet_Click();
    //! Unloads the dialog without storing anything.
    void CmdCancel_Click();
    //! Lets the user pick the default folder into sUserFolder.
    void cmdSelectDefaultSysexFolder_Click();

    // Controls.
    QGroupBox* frmSetUpMIDI = nullptr;
    //! "MIDI In Device" and "MIDI Out Device".
    std::array<QLabel*, 2> Label1{};
    QComboBox* cmbMIDIInDevice = nullptr;
    QComboBox* cmbMIDIOutDevice = nullptr;
    QPushButton* cmdSet = nullptr;
    QPushButton* cmdCancel = nullptr;
    QPushButton* cmdSelectDefaultSysexFolder = nullptr;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void buildControls();
    void Form_Load();
    //! Selects the stored device in `list` (whose first entry is device `first`): by
    //! its stored name where one is stored, else by its stored number.
    void selectStored(QComboBox& list, int first, const QString& idKey, const QString& nameKey);

    Services& services_;
    DumpState& MAIN;
    MIDIInput& MIDIInput1;
    MIDIOutput& MIDIOutput1;
};

}  // namespace tandrel
