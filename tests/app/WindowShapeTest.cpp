// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's outline: what it keeps, what it cuts away, and that the face
// and the controls sit inside it.
#include "app/FacePicture.h"
#include "app/WindowShape.h"
#include "app/frmMain.h"
#include "platform/testing/FakeServices.h"
#include "setup/SettingsKeys.h"

#include <QLabel>
#include <QPushButton>

#include <gtest/gtest.h>

using namespace tandrel;
using namespace tandrel::testing;

TEST(WindowOutline, KeepsTheFaceAndCutsAwayTheRest)
{
    const struct {
        const char* where; QPoint at /* client-area pixels */; bool kept;
    } cases[] = {
        {"centre of the face", {224, 125}, true},
        {"middle of the tab", {224, 40}, true},
        {"top row of the tab", {224, 0}, true},
        {"left edge of the tab", {137, 20}, true},
        {"right edge of the tab", {311, 20}, true},
        {"just left of the tab's edge", {136, 20}, false},
        {"just right of the tab's edge", {312, 20}, false},
        {"left end of the ellipse", {1, 125}, true},
        {"right end of the ellipse", {447, 125}, true},
        {"bottom of the ellipse", {224, 234}, true},
        {"beside the left end", {0, 125}, false},
        {"beside the right end", {448, 125}, false},
        {"below the ellipse", {224, 235}, false},
        {"top left corner", {0, 0}, false},
        {"top right corner", {450, 0}, false},
        {"bottom left corner", {0, 237}, false},
        {"bottom right corner", {450, 237}, false},
        {"tab's rounded top left corner", {137, 0}, false},
        {"tab's rounded top right corner", {311, 0}, false},
        {"former title bar, left of the tab", {60, 5}, false},
        {"former title bar, just left of the tab", {136, 12}, false},
        {"former title bar, right of the tab", {390, 5}, false},
        {"former title bar, just right of the tab", {313, 12}, false},
    };
    const QRegion outline = WindowOutline();
    for (const auto& c : cases)
        EXPECT_EQ(outline.contains(c.at), c.kept) << c.where;
}

TEST(WindowOutline, FramesTheFaceAndEveryVisibleControl)
{
    const QRegion outline = WindowOutline();
    const QRect client(0, 0, 451, 238);
    const QPixmap face = FacePicture();
    EXPECT_EQ(face.size(), QSize(449, 235));
    EXPECT_TRUE(((outline & client) - QRegion(face.rect())).isEmpty()) << "the face leaves part of the outline bare";

    FakeServices fake;
    DumpState MAIN;
    frmMain w(fake.services, MAIN);
    for (QWidget* control : std::initializer_list<QWidget*>{
             w.proSend, w.cmdMinimize, w.cmdQuit, w.cmdAbout, w.cmdSetup, w.cmdSend, w.cmdSave, w.cmdReceive,
             w.cmdOpen, w.lblStatus})
        EXPECT_TRUE((QRegion(control->geometry()) - outline).isEmpty())
            << control->metaObject()->className() << " at " << control->geometry().x() << ","
            << control->geometry().y() << " sticks out of the outline";
    EXPECT_TRUE((QRegion(w.cmdFocus->geometry()) & outline).isEmpty()) << "the focus sink must never be seen";
}

TEST(WindowOutline, IsAppliedAtStartUpAndKeptThroughMinimising)
{
    FakeServices fake;
    fake.settings.values[settings::kUserSetup] = QStringLiteral("1");
    DumpState MAIN;
    frmMain w(fake.services, MAIN);
    w.Form_Load();
    EXPECT_EQ(w.mask(), WindowOutline());
    w.show();
    w.cmdMinimize->click();
    EXPECT_TRUE(w.windowState() & Qt::WindowMinimized);
    w.showNormal();
    EXPECT_EQ(w.mask(), WindowOutline());
}
