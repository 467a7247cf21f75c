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

TEST(WindowOutline, FramesTheFaceAndEveryVisibleControl)
{
    const QRegion outline = WindowOutline();
    const QPixmap face = FacePicture();
    EXPECT_EQ(face.size(), QSize(449, 235));
    EXPECT_TRUE(((outline & QRect(0, 0, 451, 238)) - QRegion(face.rect())).isEmpty()) << "the face leaves part bare";
    FakeServices fake;
    DumpState MAIN;
    frmMain w(fake.services, MAIN);
    for (QWidget* control : std::initializer_list<QWidget*>{w.proSend, w.cmdMinimize, w.cmdQuit, w.cmdAbout, w.cmdSetup,
                                                            w.cmdSend, w.cmdSave, w.cmdReceive, w.cmdOpen, w.lblStatus})
        EXPECT_TRUE((QRegion(control->geometry()) - outline).isEmpty())
            << control->metaObject()->className() << " at " << control->x() << "," << control->y() << " sticks out";
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
