// SPDX-License-Identifier: GPL-3.0-or-later
#include "setup/MIDISetupForm.h"

namespace tandrel {

MIDISetupForm::MIDISetupForm(Services&, DumpState&, QWidget* owner) : QDialog(owner) {}

void MIDISetupForm::showModal(std::unique_ptr<MIDISetupForm>& form, Services& services, DumpState& MAIN,
                              QWidget* owner)
{
    if (!form)
        form = std::make_unique<MIDISetupForm>(services, MAIN, owner);
    if (form->exec() == QDialog::Rejected)
        form.reset();
}

}  // namespace tandrel
