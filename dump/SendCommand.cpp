// SPDX-License-Identifier: GPL-3.0-or-later
// PLACEHOLDER until the Send command lands.
#include "app/frmMain.h"
namespace tandrel {
void frmMain::cmdSend_Click() {}
void frmMain::MIDIOutput1_Error(std::int16_t, const QString&) {}
void frmMain::MIDIOutput1_QueueEmpty() {}
}  // namespace tandrel
