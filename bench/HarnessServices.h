// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ProbeMIDIInput.h"
#include "ProbeMIDIOutput.h"
#include "platform/MidiPorts.h"
#include "platform/QtServices.h"
#include "platform/Services.h"
#include "platform/testing/FakeServices.h"

#include <memory>

namespace tandrel::bench {

//! What the app harness hands the main window: the production MIDI ports (behind
//! pass-through probes), the real settings store and event loop, and doubles for
//! everything that would wait for a person (dialogs, message boxes, the beep).
class HarnessServices {
public:
    HarnessServices();
    Services& services() { return services_; }
    //! As main() does before it builds the window.
    void makeMIDIClientsAhead() { MakeMIDIClientsAhead(*realIn_, *realOut_); }

    //! The position of the first input (or output) device whose name contains
    //! `part`, or −2 when there is none.
    std::int16_t findInputDevice(const QString& part) const;
    std::int16_t findOutputDevice(const QString& part) const;

private:
    std::unique_ptr<MIDIInput> realIn_;
    std::unique_ptr<MIDIOutput> realOut_;

public:
    ProbeMIDIInput in;
    ProbeMIDIOutput out;
    testing::CallLog log;
    testing::FakeFileDialog dialog{log};
    testing::FakeMessageBoxes boxes{log};
    testing::FakeFolderBrowser folders{log};
    testing::FakeBeeper beeper{log};
    QSettingsStore settings;
    QtEventLoop loop;

private:
    Services services_;
};

}  // namespace tandrel::bench
