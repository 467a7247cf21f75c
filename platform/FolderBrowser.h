// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <optional>

class QWidget;

namespace tandrel {

//! A modal folder chooser.
class FolderBrowser {
public:
    virtual ~FolderBrowser() = default;
    //! Returns the chosen folder's path, which may be empty for an item that is not
    //! a file-system folder, or nothing when the user cancelled.
    virtual std::optional<QString> browseForFolder(QWidget* owner, const QString& title) = 0;
};

}  // namespace tandrel
