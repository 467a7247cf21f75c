// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's Receive command and the input port's events. Unlike Save,
// Open and Send, these trap nothing: a failing port reports through its Error event.
#include "app/frmMain.h"

#include "dump/CheckedAdd.h"

#include <QPointer>
#include <QPushButton>

namespace tandrel {

namespace {

const QString kReceivedBefore = QStringLiteral("Received");
const QString kReceivedAfter = QStringLiteral(" bytes; Save");

}  // namespace

void frmMain::cmdReceive_Click()
{
    if (bDumpUnsaved
        && !offerToSaveFirst(QStringLiteral("There is a previously received bulk dump. "
                                            "Do you want to save it before receiving a new bulk dump?")))
        return;
    MAIN.lByteCount = 0;

    // Both readings are taken every time, as the port's state may move between them.
    const std::int16_t first = MIDIInput1.State();
    const std::int16_t second = MIDIInput1.State();
    if (first != MIDIInput::Opened && second != MIDIInput::Closed)
        MIDIInput1.setCommand(MIDIInput::Stop);
    if (MIDIInput1.State() != MIDIInput::Closed)
        MIDIInput1.setCommand(MIDIInput::Close);
    // The output stays closed until Open or the setup dialog opens it again.
    MIDIOutput1.setCommand(MIDIOutput::Close);
    MIDIInput1.setCommand(MIDIInput::Open);
    MIDIInput1.setCommand(MIDIInput::Start);

    setStatusColour(kGreen);
    cmdFocus->setFocus();
    MAIN.sSysexData.clear();
    dumpReplaced();
    setStatusText(QStringLiteral("Ready to Receive or Open"));
}

void frmMain::MIDIInput1_Message()
{
    // Lets pending repaints and clicks run first; the window may be closed meanwhile.
    const QPointer<frmMain> self(this);
    services_.eventLoop.DoEvents();
    if (!self || unloaded_)
        return;

    // Both members are read afresh on every test: a nested event raised during the
    // yield may already have drained the queue.
    while (!MIDIInput1.MessageData().empty() && MIDIInput1.MessageCount() > 0) {
        if (!CheckedAdd(MAIN.lByteCount, MIDIInput1.MessageData().size())) {
            // The message stays unappended and waiting; the event ends here.
            services_.messageBoxes.MsgBox(
                QStringLiteral("Tandrel cannot count more than 2,147,483,647 received bytes, so the last "
                               "message was not added to the dump. Save what has been received, then click "
                               "Receive to start a new dump."),
                MessageBoxes::vbOKOnly, kTitle);
            return;
        }
        setStatusColour(kYellow);
        // Drawn at once when a frame has passed, so the count visibly runs while the
        // loop keeps control, but no more often than the eye can follow.
        setStatusCountPaced(kReceivedBefore, MAIN.lByteCount, kReceivedAfter);
        MAIN.sSysexData += MIDIInput1.MessageData();
        MIDIInput1.setCommand(MIDIInput::DiscardOldest);
    }
    bDumpUnsaved = true;
    dumpGrew();
}

void frmMain::MIDIInput1_Error(std::int16_t ErrorCode, const QString& ErrorMessage)
{
    showPortError(ErrorCode, ErrorMessage);
}

}  // namespace tandrel
