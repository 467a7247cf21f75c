// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>

#include <cstdint>

class QFrame;
class QLabel;
class QPushButton;

namespace tandrel {

//! The About window: who made the program and where to send comments. It closes on
//! Okay, on any key that types a character, and on a click on its frame.
class frmSplash : public QDialog {
    Q_OBJECT
public:
    explicit frmSplash(QWidget* parent = nullptr);

    //! The About text: three paragraphs, each line break a single line feed.
    static QString AboutText();

    void Form_Load();
    void cmdOkay_Click();
    void Frame1_Click();
    void Form_KeyPress(std::int16_t KeyAscii);

    QFrame* Frame1 = nullptr;
    QLabel* lblAbout = nullptr;
    QPushButton* cmdOkay = nullptr;

protected:
    //! Sees every key before the focused control does, and the frame's clicks.
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    //! True for a key press that types a character (Enter and Esc included).
    static bool typesCharacter(const QKeyEvent& event);
    bool framePressed_ = false;
};

}  // namespace tandrel
