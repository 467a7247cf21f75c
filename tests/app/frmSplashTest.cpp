// SPDX-License-Identifier: GPL-3.0-or-later
// The About window: what closes it, what leaves it open, its text, and that the
// main window keeps at most one.
#include "app/frmMain.h"
#include "app/frmSplash.h"
#include "platform/testing/FakeServices.h"

#include <QApplication>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>

#include <algorithm>
#include <functional>

#include <gtest/gtest.h>

using namespace tandrel;

namespace {

// A click as the window system delivers it: to the widget under the pointer,
// climbing to its parents while ignored.
void click(QWidget* on, QPoint at, Qt::MouseButton button = Qt::LeftButton)
{
    QWidget* target = on->childAt(at) ? on->childAt(at) : on;
    const QPoint local = target->mapFrom(on, at), global = target->mapToGlobal(local);
    QMouseEvent press(QEvent::MouseButtonPress, local, global, button, button, Qt::NoModifier);
    QApplication::sendEvent(target, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, local, global, button, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(target, &release);
}

int openAboutWindows()
{
    const QWidgetList all = QApplication::topLevelWidgets();
    return std::count_if(all.begin(), all.end(),
                         [](QWidget* w) { return qobject_cast<frmSplash*>(w) && w->isVisible(); });
}

}  // namespace

TEST(AboutWindow, ClosesOnOkayTypedKeysAndTheFrameOnly)
{
    using Give = std::function<void(frmSplash&)>;
    auto typed = [](Qt::Key k, const char* text, Qt::KeyboardModifiers mods = Qt::NoModifier, bool onOkay = true) {
        return Give([=](frmSplash& s) {
            QKeyEvent press(QEvent::KeyPress, k, mods, QString::fromLatin1(text));
            QApplication::sendEvent(onOkay ? static_cast<QWidget*>(s.cmdOkay) : &s, &press);
        });
    };
    auto onFrame = [](Qt::MouseButton b) {
        return Give([=](frmSplash& s) { click(&s, s.Frame1->geometry().topLeft() + QPoint(5, 5), b); });
    };
    const struct { const char* input; Give give; bool closes; } cases[] = {
        {"Okay", [](frmSplash& s) { s.cmdOkay->click(); }, true},
        {"Enter", typed(Qt::Key_Return, "\r"), true},      {"Esc", typed(Qt::Key_Escape, "\x1b"), true},
        {"space", typed(Qt::Key_Space, " "), true},         {"letter", typed(Qt::Key_Q, "q"), true},
        {"Backspace", typed(Qt::Key_Backspace, "\b"), true},
        {"letter, nothing focused", typed(Qt::Key_A, "a", Qt::NoModifier, false), true},
        {"click on the frame", onFrame(Qt::LeftButton), true},
        {"left arrow", typed(Qt::Key_Left, ""), false},
        {"Shift alone", typed(Qt::Key_Shift, "", Qt::ShiftModifier), false},
        {"Delete", typed(Qt::Key_Delete, "\x7f"), false},  {"Tab", typed(Qt::Key_Tab, "\t"), false},
        {"click on the text",
         [](frmSplash& s) { click(&s, s.Frame1->geometry().topLeft() + s.lblAbout->geometry().center()); }, false},
        {"right click on the frame", onFrame(Qt::RightButton), false},
        {"click beside the frame", [](frmSplash& s) { click(&s, QPoint(5, 170)); }, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        QPointer<frmSplash> s = new frmSplash;
        s->setAttribute(Qt::WA_DeleteOnClose);
        s->show();
        c.give(*s);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_EQ(s.isNull(), c.closes);
        delete s.data();
    }
}

TEST(AboutWindow, ShowsThreeParagraphsJoinedByLineFeedsOnly)
{
    const QString text = frmSplash().lblAbout->text();
    const QStringList paragraphs = text.split(QStringLiteral("\n\n"));
    ASSERT_EQ(paragraphs.size(), 3) << text.toStdString();
    EXPECT_FALSE(text.contains(u'\r') || paragraphs[1].isEmpty() || paragraphs[1].contains(u'\n'));
    EXPECT_EQ(paragraphs[0], QStringLiteral("Tandrel is by Orlenby"));
    EXPECT_TRUE(paragraphs[2].startsWith("Send comments on program to ") && paragraphs[2].endsWith("@example.org"));
}

TEST(AboutWindow, TheMainWindowKeepsOnlyOneAndRebuildsItAfterClosing)
{
    tandrel::testing::FakeServices fake;
    DumpState MAIN;
    frmMain w(fake.services, MAIN);
    w.show();
    w.cmdAbout->click();
    const QPointer<frmSplash> first = w.aboutWindow();
    ASSERT_NE(first, nullptr);
    EXPECT_FALSE(first->isModal() || QApplication::activeModalWidget()) << "the main window stays usable";
    w.cmdAbout->click();
    EXPECT_EQ(w.aboutWindow(), first.data());
    EXPECT_EQ(openAboutWindows(), 1);

    first->cmdOkay->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(first.isNull() && !w.aboutWindow()) << "closing unloads it";
    w.cmdAbout->click();
    EXPECT_EQ(openAboutWindows(), 1);
}
