// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <cstdint>

class QWidget;

namespace tandrel {

//! The file dialog control (`dsCmDlg`): set its properties, show it modally, then
//! read `Cancelled`, `FilePath` and `FolderPath`.
class FileDialog {
public:
    //! Bits of `DialogFlags`.
    enum : std::uint32_t { OverwritePrompt = 0x2, HideReadOnly = 0x4, Explorer = 0x80000 };

    virtual ~FileDialog() = default;

    QString DefaultExtension;
    std::uint32_t DialogFlags = 0;
    QString FileFilter;  //!< "description|pattern"
    QWidget* OwnerWindow = nullptr;
    QString InitialFolder;
    QString CancelCaption;
    QString OKCaption;

    //! Modal; return when the dialog has closed.
    virtual void ShowSaveDialog() = 0;
    virtual void ShowOpenDialog() = 0;

    bool Cancelled() const { return cancelled_; }
    QString FilePath() const { return filePath_; }
    QString FolderPath() const { return folderPath_; }

protected:
    bool cancelled_ = true;
    QString filePath_;
    QString folderPath_;
};

}  // namespace tandrel
