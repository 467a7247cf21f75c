// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's face: the outline, what it keeps and cuts away, and the controls
// laid out inside it.
#include "app/FacePicture.h"
#include "app/WindowShape.h"
#include "app/frmMain.h"
#include "platform/testing/FakeServices.h"
#include "setup/SettingsKeys.h"

#include <QLabel>
#include <QPushButton>

#include <gtest/gtest.h>

using namespace tandrel;

TEST(WindowOutline, KeepsTheFaceAndCutsAwayTheRest)
{
    const struct {
        const char* where; QPoint at /* client-area pixels */; bool kept;
    } cases[] = {
        {"centre", {224, 125}, true},           {"tab", {224, 40}, true},
        {"tab's top row", {224, 0}, true},      {"tab's left edge", {137, 20}, true},
        {"tab's right edge", {311, 20}, true},  {"just left of the tab", {136, 20}, false},
        {"just right of the tab", {312, 20}, false},
        {"ellipse's left end", {1, 125}, true}, {"ellipse's right end", {447, 125}, true},
        {"ellipse's bottom", {224, 234}, true}, {"beside the left end", {0, 125}, false},
        {"beside the right end", {448, 125}, false}, {"below the ellipse", {224, 235}, false},
        {"top left corner", {0, 0}, false},     {"top right corner", {450, 0}, false},
        {"bottom left corner", {0, 237}, false}, {"bottom right corner", {450, 237}, false},
        {"tab's rounded corner", {137, 0}, false}, {"former title bar, left", {60, 5}, false},
        {"former title bar, right", {390, 5}, false},
    };
    const QRegion outline = WindowOutline();
    for (const auto& c : cases)
        EXPECT_EQ(outline.contains(c.at), c.kept) << c.where;
}

TEST(WindowOutline, FramesTheFaceAndTheControlsAndSurvivesMinimising)
{
    const QRegion outline = WindowOutline();
    EXPECT_EQ(FacePicture().size(), QSize(449, 235));
    EXPECT_TRUE(((outline & QRect(0, 0, 451, 238)) - QRegion(0, 0, 449, 235)).isEmpty()) << "the face leaves gaps";
    tandrel::testing::FakeServices fake;
    fake.settings.values[settings::kUserSetup] = "1";
    DumpState MAIN;
    frmMain w(fake.services, MAIN);
    EXPECT_EQ(w.size(), QSize(451, 238));
    const struct {
        QWidget* control; const char* caption; QRect geometry;
    } cases[] = {
        {w.cmdReceive, "Receive", {56, 101, 84, 34}}, {w.cmdSave, "Save", {144, 101, 79, 34}},
        {w.cmdOpen, "Open", {227, 101, 79, 34}},      {w.cmdSend, "Send", {310, 101, 84, 34}},
        {w.cmdSetup, "Setup", {109, 181, 74, 21}},    {w.cmdAbout, "About", {187, 181, 74, 21}},
        {w.cmdQuit, "Quit", {265, 181, 74, 21}},      {w.cmdMinimize, "\u2013", {287, 6, 16, 15}},
        {w.lblStatus, "", {72, 145, 309, 27}},        {w.proSend, "", {61, 81, 327, 14}},
    };
    for (const auto& c : cases) {
        const auto* button = qobject_cast<QPushButton*>(c.control);
        EXPECT_EQ(button ? button->text() : QString(), QString::fromUtf8(c.caption));
        EXPECT_EQ(c.control->geometry(), c.geometry);
        EXPECT_TRUE((QRegion(c.geometry) - outline).isEmpty()) << c.caption << " sticks out of the outline";
    }
    EXPECT_GE(w.cmdFocus->geometry().top(), w.height()) << "the focus sink is never seen";
    // Walking the tab stops from Receive comes round to it after exactly these.
    QWidget* at = w.cmdReceive;
    for (QWidget* next : {w.cmdSave, w.cmdOpen, w.cmdSend, w.cmdSetup, w.cmdAbout, w.cmdQuit, w.cmdReceive}) {
        do
            at = at->nextInFocusChain();
        while (!(at->focusPolicy() & Qt::TabFocus));
        EXPECT_EQ(at, next);
    }
    // The outline is set at start-up and kept through minimising from the tab.
    w.Form_Load();
    EXPECT_EQ(w.mask(), outline);
    w.show();
    w.cmdMinimize->click();
    EXPECT_TRUE(w.windowState() & Qt::WindowMinimized);
    w.showNormal();
    EXPECT_EQ(w.mask(), outline);
}
