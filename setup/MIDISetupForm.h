// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "dump/DumpState.h"
#include "platform/Services.h"

#include <QDialog>

#include <memory>

namespace tandrel {

//! The setup dialog: chooses the MIDI input and output devices and the default
//! folder, reopens the ports on them and stores the choice.
class MIDISetupForm : public QDialog {
    Q_OBJECT
public:
    //! Loads the dialog: fills the device lists and (re)opens the ports.
    MIDISetupForm(Services& services, DumpState& MAIN, QWidget* owner);

    //! Shows the dialog modally, owned by `owner`, loading it into `form` first when
    //! it is not loaded. After Set it stays loaded and hidden; after Cancel it is
    //! unloaded and `form` is empty again.
    static void showModal(std::unique_ptr<MIDISetupForm>& form, Services& services, DumpState& MAIN,
                          QWidget* owner);
};

}  // namespace tandrel
