// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's Send command and the output port's events. The send runs with
// failures ignored step by step, so it always reaches its end.
#include "app/frmMain.h"

#include "dump/CheckedAdd.h"
#include "dump/IgnoreFailure.h"
#include "dump/MessageCutter.h"

#include <QPointer>
#include <QPushButton>

namespace tandrel {

namespace {

constexpr std::int16_t kSystemExclusive = 240;
const QString kSentAfter = QStringLiteral(" bytes sent to GT-3");

//! Marks the window as sending for the life of one Send command.
class SendingFlag {
public:
    SendingFlag(frmMain* window, bool& flag) : window_(window), flag_(flag) { flag_ = true; }
    ~SendingFlag()
    {
        if (window_)
            flag_ = false;
    }
    SendingFlag(const SendingFlag&) = delete;
    SendingFlag& operator=(const SendingFlag&) = delete;

private:
    QPointer<frmMain> window_;
    bool& flag_;
};

}  // namespace

void frmMain::cmdSend_Click()
{
    // A click during the send's own yields must not hand the dump over twice.
    if (sending_)
        return;
    const QPointer<frmMain> self(this);
    const SendingFlag sendingFlag(this, sending_);

    IgnoreFailure([&] { cmdFocus->setFocus(); });
    if (MAIN.sSysexData.empty()) {
        IgnoreFailure([&] {
            services_.messageBoxes.MsgBox(QStringLiteral("There's no file open to send to the GT-3."),
                                          MessageBoxes::vbOKOnly, kTitle);
        });
        return;
    }
    if (!confirmDamagedSend())
        return;

    IgnoreFailure([&] { proSend->setMin(0); });
    IgnoreFailure([&] { proSend->setMax(static_cast<float>(MAIN.sSysexData.size()) / 4); });
    IgnoreFailure([&] { proSend->setVisibleBar(true); });
    IgnoreFailure([&] { proSend->setValue(proSend->Min()); });
    IgnoreFailure([&] { setStatusColour(kYellow); });
    IgnoreFailure([&] { MIDIInput1.setCommand(MIDIInput::Stop); });

    // Cut from a private copy, keeping an offset into it, so the dump costs one
    // copy and one scan whatever happens to the held dump during the yields.
    ByteString rest;
    IgnoreFailure([&] { rest = MAIN.sSysexData; });
    std::size_t cut = 0;
    std::int32_t position = 0;
    std::int32_t sent = 0;
    const std::uint64_t filesOpened = filesOpened_;

    for (;;) {
        // The held dump's current length: a Receive or a Save during a yield empties
        // it, which ends the send here.
        if (static_cast<std::size_t>(position) >= MAIN.sSysexData.size())
            break;
        IgnoreFailure([&] { MIDIOutput1.setMessageStatus(kSystemExclusive); });
        const std::size_t k = NextMessageLength(rest, cut);
        // Bytes after the last F7 are not a whole message and are not sent.
        if (k == 0)
            break;
        IgnoreFailure([&] { return CheckedAdd(position, k); });
        IgnoreFailure([&] { MAIN.sSysexMessage.assign(rest, cut, k); });
        cut += k;
        IgnoreFailure([&] { MIDIOutput1.setMessageData(MAIN.sSysexMessage); });
        IgnoreFailure([&] { MIDIOutput1.setCommand(MIDIOutput::Transmit); });
        // A file opened while the port waited to hand the message over ended the send.
        if (filesOpened_ != filesOpened)
            break;
        IgnoreFailure([&] { return CheckedAdd(sent, MIDIOutput1.MessageData().size()); });
        IgnoreFailure([&] { MIDIOutput1.setMessageData(ByteString()); });
        // A value beyond the bar's maximum is refused by the bar; the send goes on.
        IgnoreFailure([&] { proSend->setValue(static_cast<float>(sent) / 4); });
        IgnoreFailure([&] { setStatusCountPaced(QString(), sent, kSentAfter); });
        IgnoreFailure([&] { services_.eventLoop.DoEvents(); });
        // Quit or a close during the yield: the ports are closed and may not be
        // touched again, and the window may be gone.
        if (!self || unloaded_)
            return;
        if (static_cast<std::size_t>(sent) > MAIN.sSysexData.size() || filesOpened_ != filesOpened)
            break;
    }

    IgnoreFailure([&] { proSend->setVisibleBar(false); });
    IgnoreFailure([&] { proSend->setValue(proSend->Min()); });
    IgnoreFailure([&] { setStatusColour(kGreen); });
    if (filesOpened_ != filesOpened) {
        // A file opened during the yield replaced the dump and ended the send: it
        // stays held, under its own status text, for the next Send.
        IgnoreFailure([&] { MIDIInput1.setCommand(MIDIInput::Start); });
        return;
    }
    IgnoreFailure([&] { ResetToReady(); });
    IgnoreFailure([&] { services_.beeper.Beep(); });
    IgnoreFailure([&] { setStatusText(QStringLiteral("Sent sysex to GT-3--ready to Receive or Open")); });
}

void frmMain::MIDIOutput1_Error(std::int16_t ErrorCode, const QString& ErrorMessage)
{
    showPortError(ErrorCode, ErrorMessage);
}

void frmMain::MIDIOutput1_QueueEmpty() {}

}  // namespace tandrel
