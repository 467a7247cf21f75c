// SPDX-License-Identifier: GPL-3.0-or-later
// The production message boxes: which buttons each style shows, and what Enter
// (the default button) and Esc answer.
#include "platform/QtServices.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

using namespace tandrel;

namespace {

struct Seen {
    QString title;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton byDefault = QMessageBox::NoButton;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
};

//! Shows a box of `style` and presses `key` in it once it is up.
int answer(int style, Qt::Key key, Seen& seen)
{
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        seen = {box->windowTitle(), box->standardButtons(),
                box->defaultButton() ? box->standardButton(box->defaultButton()) : QMessageBox::NoButton, box->icon()};
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(box, &press);
    });
    QtMessageBoxes boxes;
    return boxes.MsgBox(QStringLiteral("Send anyway?"), style, QStringLiteral("Tandrel"));
}

TEST(QtMessageBoxes, EachStyleShowsItsButtonsAndAnswersEnterAndEsc)
{
    using B = QMessageBox;
    const struct {
        const char* what;
        int style;
        Qt::Key key;
        QMessageBox::StandardButtons buttons;
        QMessageBox::StandardButton byDefault;
        QMessageBox::Icon icon;
        int answer;
    } cases[] = {
        {"warning, Enter", MessageBoxes::vbYesNoWarningDefaultNo, Qt::Key_Return, B::Yes | B::No, B::No, B::Warning,
         MessageBoxes::vbNo},
        {"warning, Esc", MessageBoxes::vbYesNoWarningDefaultNo, Qt::Key_Escape, B::Yes | B::No, B::No, B::Warning,
         MessageBoxes::vbNo},
        {"question, Enter", MessageBoxes::vbYesNoCancelQuestion, Qt::Key_Return, B::Yes | B::No | B::Cancel, B::Yes,
         B::Question, MessageBoxes::vbYes},
        {"question, Esc", MessageBoxes::vbYesNoCancelQuestion, Qt::Key_Escape, B::Yes | B::No | B::Cancel, B::Yes,
         B::Question, MessageBoxes::vbCancel},
        {"OK only, Enter", MessageBoxes::vbOKOnly, Qt::Key_Return, B::Ok, B::NoButton, B::NoIcon, MessageBoxes::vbOK},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Seen seen;
        EXPECT_EQ(answer(c.style, c.key, seen), c.answer);
        EXPECT_EQ(seen.title, "Tandrel");
        EXPECT_EQ(seen.buttons, c.buttons);
        if (c.byDefault != B::NoButton) {
            EXPECT_EQ(seen.byDefault, c.byDefault);
        }
        EXPECT_EQ(seen.icon, c.icon);
    }
}

}  // namespace
