// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/testing/FakeServices.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace tandrel::testing {

void FakeFileDialog::willChoose(const QString& path)
{
    answers.push_back({false, path, QFileInfo(path).absolutePath()});
}

void FakeFileDialog::show(bool saving)
{
    shown.push_back({saving, DefaultExtension, DialogFlags, FileFilter, OwnerWindow, InitialFolder,
                     CancelCaption, OKCaption});
    log_.add(saving ? "ShowSaveDialog" : "ShowOpenDialog");
    if (whileOpen)
        whileOpen();
    const Answer a = answers.empty() ? Answer{true, {}, {}} : answers.front();
    if (!answers.empty())
        answers.pop_front();
    cancelled_ = a.cancelled;
    filePath_ = a.cancelled ? QString() : a.filePath;
    folderPath_ = a.cancelled ? QString() : a.folderPath;
}

int FakeMessageBoxes::MsgBox(const QString& prompt, int style, const QString& title)
{
    boxes.push_back({prompt, style, title});
    log_.add("MsgBox:" + prompt.toStdString());
    if (whileOpen)
        whileOpen();
    if (!answers.empty()) {
        const int a = answers.front();
        answers.pop_front();
        return a;
    }
    switch (style) {
    case vbYesNoCancelQuestion: return vbCancel;
    case vbYesNoWarningDefaultNo: return vbNo;
    default: return vbOK;
    }
}

QString MemorySettingsStore::read(const QString& key, const QString& defaultValue) const
{
    return values.value(key, defaultValue);
}

void MemorySettingsStore::write(const QString& key, const QString& text)
{
    log_.add("settings." + key.toStdString() + "=" + text.toStdString());
    writes.emplace_back(key, text);
    values[key] = text;
}

std::optional<QString> FakeFolderBrowser::browseForFolder(QWidget* owner, const QString& title)
{
    ++shows;
    lastOwner = owner;
    lastTitle = title;
    log_.add("BrowseForFolder");
    std::optional<QString> answer;
    if (!answers.empty()) {
        answer = std::move(answers.front());
        answers.pop_front();
    }
    return answer;
}

void FakeEventLoop::DoEvents()
{
    ++yields;
    if (processQtEvents)
        QCoreApplication::processEvents();
    if (onDoEvents)
        onDoEvents();
}

}  // namespace tandrel::testing
