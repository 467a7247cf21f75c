// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/frmSplash.h"

#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>

namespace tandrel {

namespace {
const QColor kTan(220, 188, 140);
const QColor kNavy(40, 44, 79);
constexpr QChar kLineFeed = u'\n';
}  // namespace

frmSplash::frmSplash(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint
                          | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setWindowTitle(QString());
    setFixedSize(274, 182);
    setSizeGripEnabled(false);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, kTan);
    setPalette(pal);
    setAutoFillBackground(true);

    Frame1 = new QFrame(this);
    Frame1->setGeometry(10, 4, 254, 139);
    Frame1->setFrameStyle(QFrame::Box | QFrame::Sunken);
    Frame1->setAutoFillBackground(true);

    lblAbout = new QLabel(Frame1);
    lblAbout->setGeometry(14, 23, 228, 108);
    lblAbout->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lblAbout->setWordWrap(true);
    QPalette labelPal = lblAbout->palette();
    labelPal.setColor(QPalette::WindowText, kNavy);
    lblAbout->setPalette(labelPal);
    lblAbout->setAutoFillBackground(false);
    // A click on the text is the label's own and must not count as one on the frame.
    lblAbout->setAttribute(Qt::WA_NoMousePropagation);

    cmdOkay = new QPushButton(QStringLiteral("Okay"), this);
    cmdOkay->setGeometry(180, 152, 84, 24);
    cmdOkay->setDefault(true);
    cmdOkay->setStyleSheet(QStringLiteral(
        "QPushButton { background-color: rgb(220,188,140); color: rgb(40,44,79);"
        " border: 1px solid rgb(120,92,52); border-radius: 4px; padding: 0px; }"
        "QPushButton:hover { background-color: rgb(232,206,164); }"
        "QPushButton:pressed { background-color: rgb(196,164,116); }"
        "QPushButton:focus { border: 2px solid rgb(40,44,79); }"));
    connect(cmdOkay, &QPushButton::clicked, this, &frmSplash::cmdOkay_Click);

    for (QWidget* w : {static_cast<QWidget*>(Frame1), static_cast<QWidget*>(lblAbout),
                       static_cast<QWidget*>(cmdOkay)})
        w->installEventFilter(this);
    cmdOkay->setFocus();

    // Centred on the screen, not on the main window.
    if (const QScreen* s = parent ? parent->screen() : screen()) {
        QRect r = rect();
        r.moveCenter(s->availableGeometry().center());
        move(r.topLeft());
    }
    Form_Load();
}

QString frmSplash::AboutText()
{
    return QStringLiteral("Tandrel is by Orlenby") + kLineFeed + kLineFeed
           + QStringLiteral("Made for GT-3 players who keep their patches safe.") + kLineFeed + kLineFeed
           + QStringLiteral("Send comments on program to ") + QStringLiteral("tandrel@example.org");
}

void frmSplash::Form_Load()
{
    lblAbout->setText(AboutText());
}

void frmSplash::cmdOkay_Click()
{
    close();
}

void frmSplash::Frame1_Click()
{
    close();
}

void frmSplash::Form_KeyPress(std::int16_t)
{
    close();
}

bool frmSplash::typesCharacter(const QKeyEvent& event)
{
    // Tab and Backtab move the focus, and Delete edits; none of them types anything.
    if (event.key() == Qt::Key_Tab || event.key() == Qt::Key_Backtab || event.key() == Qt::Key_Delete)
        return false;
    return !event.text().isEmpty();
}

bool frmSplash::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::KeyPress: {
        const auto& key = static_cast<const QKeyEvent&>(*event);
        if (!typesCharacter(key))
            break;
        Form_KeyPress(static_cast<std::int16_t>(key.text().front().unicode()));
        return true;
    }
    case QEvent::MouseButtonPress:
        if (watched == Frame1)
            framePressed_ = static_cast<const QMouseEvent&>(*event).button() == Qt::LeftButton;
        break;
    case QEvent::MouseButtonRelease:
        if (watched == Frame1 && framePressed_) {
            framePressed_ = false;
            const auto& mouse = static_cast<const QMouseEvent&>(*event);
            if (mouse.button() == Qt::LeftButton && Frame1->rect().contains(mouse.position().toPoint())) {
                Frame1_Click();
                return true;
            }
        }
        break;
    default:
        break;
    }
    return QDialog::eventFilter(watched, event);
}

void frmSplash::keyPressEvent(QKeyEvent* event)
{
    // Reached when no control has the focus.
    if (typesCharacter(*event)) {
        Form_KeyPress(static_cast<std::int16_t>(event->text().front().unicode()));
        return;
    }
    QDialog::keyPressEvent(event);
}

}  // namespace tandrel
