// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The production services that Qt provides: file dialogs, message boxes, the
// settings store, the folder browser, the beep and the event loop.

#include "platform/FileDialog.h"
#include "platform/FolderBrowser.h"
#include "platform/MessageBoxes.h"
#include "platform/QSettingsStore.h"
#include "platform/SystemServices.h"

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

class QtEventLoop : public EventLoop {
public:
    void DoEvents() override;
    void End() override;
};

}  // namespace tandrel
