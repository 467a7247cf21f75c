// SPDX-License-Identifier: GPL-3.0-or-later
// PLACEHOLDER until the Receive command lands.
#include "app/frmMain.h"
namespace tandrel {
void frmMain::cmdReceive_Click() {}
void frmMain::MIDIInput1_Message() {}
void frmMain::MIDIInput1_Error(std::int16_t, const QString&) {}
}  // namespace tandrel
