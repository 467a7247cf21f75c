// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/FileDialog.h"
#include "platform/FolderBrowser.h"
#include "platform/MIDIInput.h"
#include "platform/MIDIOutput.h"
#include "platform/MessageBoxes.h"
#include "platform/SettingsStore.h"
#include "platform/SystemServices.h"

namespace tandrel {

//! Every outside service the windows reach. Production fills it with the real
//! implementations (see ProductionServices), tests with doubles.
struct Services {
    MIDIInput& MIDIInput1;
    MIDIOutput& MIDIOutput1;
    FileDialog& dsCmDlg;
    MessageBoxes& messageBoxes;
    SettingsStore& settings;
    FolderBrowser& folderBrowser;
    Beeper& beeper;
    EventLoop& eventLoop;
};

}  // namespace tandrel
