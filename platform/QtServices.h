// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The production services that Qt provides: file dialogs, message boxes, the
// settings store, the folder browser, the beep and the event loop.

#include "platform/FileDialog.h"
#include "platform/FolderBrowser.h"
#include "platform/MessageBoxes.h"
#include "platform/QSettingsStore.h"
#include "platform/SystemServices.h"

#include <chrono>

namespace tandrel {

//! QFileDialog in the role of the file dialog control.
class QtFileDialog : public FileDialog {
public:
    void ShowSaveDialog() override { show(true); }
    void ShowOpenDialog() override { show(false); }

private:
    void show(bool saving);
};

//! QMessageBox: Yes is the default button and Esc answers Cancel.
class QtMessageBoxes : public MessageBoxes {
public:
    int MsgBox(const QString& prompt, int style, const QString& title) override;
};

//! QFileDialog in directory mode.
class QtFolderBrowser : public FolderBrowser {
public:
    std::optional<QString> browseForFolder(QWidget* owner, const QString& title) override;
};

class QtBeeper : public Beeper {
public:
    void Beep() override;
};

//! Qt's event loop. A yield delivers Qt's posted events (the ports' events, queued
//! calls, repaints) every time, and asks the window system and the timers for
//! more at most once a `PollEvery`: a transfer yields after every message, and a
//! system call per message costs more than the message.
class QtEventLoop : public EventLoop {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::microseconds PollEvery{1000};

    void DoEvents() override;
    void End() override;

private:
    Clock::time_point lastPoll_{};
};

}  // namespace tandrel
