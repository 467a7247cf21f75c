// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's verdict lamp and the question before sending a damaged dump.
#include "app/VerdictLamp.h"
#include "app/frmMain.h"

#include <QShortcut>

namespace tandrel {

void frmMain::buildVerdictLamp()
{
    // At the right end of the status line, inside the face's rim.
    lampVerdict = new VerdictLamp(MAIN, this);
    lampVerdict->setGeometry(387, 151, 15, 15);
    auto* details = new QShortcut(VerdictLamp::kShortcut, this);
    connect(details, &QShortcut::activated, lampVerdict, &VerdictLamp::showDetails);
}

void frmMain::dumpReplaced()
{
    lampVerdict->verifyNow();
}

void frmMain::dumpGrew()
{
    lampVerdict->dumpGrew();
}

bool frmMain::confirmDamagedSend()
{
    // Verified afresh: the lamp may still be waiting for a Receive to go quiet.
    const DumpReport report = VerifyDump(MAIN.sSysexData);
    if (report.damaged == 0)
        return true;
    return services_.messageBoxes.MsgBox(
               QStringLiteral("This dump has %1 damaged messages (bad checksum or broken framing). Sending it could "
                              "leave wrong data in the GT-3. Send anyway?")
                   .arg(report.damaged),
               MessageBoxes::vbYesNoWarningDefaultNo, kTitle) == MessageBoxes::vbYes;
}

}  // namespace tandrel
