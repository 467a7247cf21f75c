// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace tandrel {

//! Modal message boxes, with the button-and-icon codes and answers the program uses.
class MessageBoxes {
public:
    //! Button-and-icon codes.
    //! vbYesNoWarningDefaultNo: Yes and No with a warning icon, No the default and Esc's answer.
    enum Style { vbOKOnly = 0, vbYesNoCancelQuestion = 35, vbYesNoWarningDefaultNo = 308 };
    //! Answers.
    enum Answer { vbOK = 1, vbCancel = 2, vbYes = 6, vbNo = 7 };

    virtual ~MessageBoxes() = default;
    //! Shows the box and waits for the answer. Esc answers Cancel where there is one.
    virtual int MsgBox(const QString& prompt, int style, const QString& title) = 0;
};

}  // namespace tandrel
