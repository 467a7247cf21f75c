// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/QtServices.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

namespace tandrel {

void QtFileDialog::show(bool saving)
{
    // "description|pattern" becomes Qt's "description (pattern)".
    QString filter = FileFilter;
    if (const auto bar = filter.indexOf(u'|'); bar >= 0)
        filter = filter.left(bar) + QStringLiteral(" (") + filter.mid(bar + 1) + u')';

    QFileDialog dialog(saving ? OwnerWindow : nullptr, QString(), InitialFolder, filter);
    dialog.setAcceptMode(saving ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    // No flag requires the chosen file to exist when opening.
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(DefaultExtension);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !(DialogFlags & OverwritePrompt));
    dialog.setOption(QFileDialog::ReadOnly, false);
    dialog.setLabelText(QFileDialog::Accept, OKCaption);
    dialog.setLabelText(QFileDialog::Reject, CancelCaption);
    dialog.setWindowTitle(saving ? QObject::tr("Save GT-3 bulk dump") : QObject::tr("Open GT-3 bulk dump"));

    cancelled_ = dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty();
    if (cancelled_) {
        filePath_.clear();
        folderPath_.clear();
        return;
    }
    filePath_ = dialog.selectedFiles().constFirst();
    folderPath_ = QFileInfo(filePath_).absolutePath();
}

int QtMessageBoxes::MsgBox(const QString& prompt, int style, const QString& title)
{
    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(title);
    box.setText(prompt);
    if (style == vbYesNoCancelQuestion) {
        box.setIcon(QMessageBox::Question);
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::Cancel);
        switch (box.exec()) {
        case QMessageBox::Yes: return vbYes;
        case QMessageBox::No: return vbNo;
        default: return vbCancel;
        }
    }
    if (style == vbYesNoWarningDefaultNo) {
        box.setIcon(QMessageBox::Warning);
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::No);
        box.setEscapeButton(QMessageBox::No);
        return box.exec() == QMessageBox::Yes ? vbYes : vbNo;
    }
    box.setIcon(QMessageBox::NoIcon);
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return vbOK;
}

std::optional<QString> QtFolderBrowser::browseForFolder(QWidget* owner, const QString& title)
{
    QFileDialog dialog(owner, title);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    dialog.setLabelText(QFileDialog::LookIn, title);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const QStringList chosen = dialog.selectedFiles();
    return chosen.isEmpty() ? QString() : chosen.constFirst();
}

void QtBeeper::Beep()
{
    QApplication::beep();
}

void QtEventLoop::DoEvents()
{
    const Clock::time_point now = Clock::now();
    if (now - lastPoll_ < PollEvery) {
        QCoreApplication::sendPostedEvents();
        return;
    }
    lastPoll_ = now;
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void QtEventLoop::End()
{
    QApplication::closeAllWindows();
    QCoreApplication::exit(0);
}

}  // namespace tandrel
