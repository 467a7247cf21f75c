// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/MidiPorts.h"
#include "platform/QtServices.h"
#include "platform/Services.h"

namespace tandrel {

//! Owns the production implementation of every service.
class ProductionServices {
public:
    ProductionServices();
    Services& services() { return services_; }

private:
    std::unique_ptr<MIDIInput> in_;
    std::unique_ptr<MIDIOutput> out_;
    QtFileDialog dialog_;
    QtMessageBoxes boxes_;
    QSettingsStore settings_;
    QtFolderBrowser folders_;
    QtBeeper beeper_;
    QtEventLoop loop_;
    Services services_;
};

}  // namespace tandrel
