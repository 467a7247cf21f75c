// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Doubles of the platform services that record what they are asked and play
// scripted answers, and a bundle that hands them to a window as Services.

#include "platform/Services.h"
#include "platform/testing/CallLog.h"
#include "platform/testing/FakeMIDIPorts.h"

#include <QMap>

#include <deque>
#include <functional>
#include <optional>
#include <vector>

namespace tandrel::testing {

//! A file dialog whose answers come from `answers`, one per show. With no answer
//! left it behaves as if the user cancelled. Every show is recorded with the
//! settings in force.
class FakeFileDialog : public FileDialog {
public:
    struct Answer {
        bool cancelled = false;
        QString filePath;
        QString folderPath;
    };
    struct Shown {
        bool saving;
        QString DefaultExtension;
        std::uint32_t DialogFlags;
        QString FileFilter;
        QWidget* OwnerWindow;
        QString InitialFolder;
        QString CancelCaption;
        QString OKCaption;
    };

    explicit FakeFileDialog(CallLog& log) : log_(log) {}
    void ShowSaveDialog() override { show(true); }
    void ShowOpenDialog() override { show(false); }

    //! Scripts the next answer: a chosen file, its folder taken from the path.
    void willChoose(const QString& path);
    void willCancel() { answers.push_back({true, {}, {}}); }

    std::deque<Answer> answers;
    std::vector<Shown> shown;
    //! Runs while the dialog is "open", before it answers.
    std::function<void()> whileOpen;

private:
    void show(bool saving);
    CallLog& log_;
};

//! Message boxes that answer from `answers`, one per box. A box with no scripted
//! answer gets OK, or Cancel where it has one, or No where No is the default. Every box is recorded.
class FakeMessageBoxes : public MessageBoxes {
public:
    struct Box {
        QString prompt;
        int style;
        QString title;
    };
    explicit FakeMessageBoxes(CallLog& log) : log_(log) {}
    int MsgBox(const QString& prompt, int style, const QString& title) override;

    std::deque<int> answers;
    std::vector<Box> boxes;
    std::function<void()> whileOpen;

private:
    CallLog& log_;
};

//! A settings store in memory. Writes are recorded in order.
class MemorySettingsStore : public SettingsStore {
public:
    explicit MemorySettingsStore(CallLog& log) : log_(log) {}
    QString read(const QString& key, const QString& defaultValue) const override;
    void write(const QString& key, const QString& text) override;

    QMap<QString, QString> values;
    std::vector<std::pair<QString, QString>> writes;

private:
    CallLog& log_;
};

//! A folder browser that answers from `answers` (nullopt: cancelled).
class FakeFolderBrowser : public FolderBrowser {
public:
    explicit FakeFolderBrowser(CallLog& log) : log_(log) {}
    std::optional<QString> browseForFolder(QWidget* owner, const QString& title) override;

    std::deque<std::optional<QString>> answers;
    QWidget* lastOwner = nullptr;
    QString lastTitle;
    int shows = 0;

private:
    CallLog& log_;
};

class FakeBeeper : public Beeper {
public:
    explicit FakeBeeper(CallLog& log) : log_(log) {}
    void Beep() override { ++beeps; log_.add("Beep"); }
    int beeps = 0;

private:
    CallLog& log_;
};

//! An event loop whose yields run `onDoEvents` (when set) and, with
//! `processQtEvents`, the real pending Qt events too.
class FakeEventLoop : public EventLoop {
public:
    explicit FakeEventLoop(CallLog& log) : log_(log) {}
    void DoEvents() override;
    void End() override { ++ends; log_.add("End"); }

    int yields = 0;
    int ends = 0;
    bool processQtEvents = false;
    std::function<void()> onDoEvents;

private:
    CallLog& log_;
};

//! Every double, wired into one Services.
struct FakeServices {
    CallLog log;
    FakeMIDIInput in{log};
    FakeMIDIOutput out{log};
    FakeFileDialog dialog{log};
    FakeMessageBoxes boxes{log};
    MemorySettingsStore settings{log};
    FakeFolderBrowser folders{log};
    FakeBeeper beeper{log};
    FakeEventLoop loop{log};
    Services services{in, out, dialog, boxes, settings, folders, beeper, loop};
};

}  // namespace tandrel::testing
