// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's face: the outline, what it keeps and cuts away, the controls
// laid out inside it, and the face as drawn for screens of several pixel densities.
// The suite also runs at QT_SCALE_FACTOR=2, where the window itself is drawn at two
// device pixels to a pixel.
#include "app/FacePicture.h"
#include "app/WindowShape.h"
#include "app/frmMain.h"
#include "platform/testing/FakeServices.h"
#include "setup/SettingsKeys.h"

#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QTransform>

#include <cmath>

#include <gtest/gtest.h>

using namespace tandrel;

namespace {

// The outline in device pixels, scaled as Qt scales a window's mask.
QRegion deviceOutline(qreal ratio)
{
    return QTransform::fromScale(ratio, ratio).map(WindowOutline() & QRect(0, 0, 451, 238));
}

// What lies `by` device pixels or more inside `r`.
QRegion eroded(const QRegion& r, int by)
{
    return r & r.translated(by, 0) & r.translated(-by, 0) & r.translated(0, by) & r.translated(0, -by);
}

struct Census {
    int leaks = 0;     // pixels with colour outside the outline
    int holes = 0;     // pixels not fully drawn well inside it
    int partial = 0;   // pixels partly drawn: the antialiased rim
    int ink = 0;       // navy pixels where the tab bears the name
    int detailed = 0;  // 2 × 2 blocks under the name that are not one colour
};

Census census(const QImage& shown, qreal ratio)
{
    const QImage image = shown.convertToFormat(QImage::Format_ARGB32);
    const QRegion outline = deviceOutline(ratio), inner = eroded(outline, 2 * int(std::ceil(ratio)));
    const QRect name = QTransform::fromScale(ratio, ratio).mapRect(QRect(150, 8, 130, 36));
    Census c;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            c.leaks += qAlpha(p) != 0 && !outline.contains(QPoint(x, y));
            c.holes += qAlpha(p) != 255 && inner.contains(QPoint(x, y));
            c.partial += qAlpha(p) != 0 && qAlpha(p) != 255;
            if (!name.contains(x, y))
                continue;
            c.ink += std::abs(qRed(p) - 40) + std::abs(qGreen(p) - 44) + std::abs(qBlue(p) - 79) < 60;
            if (x % 2 == 0 && y % 2 == 0 && x + 1 < image.width() && y + 1 < image.height())
                c.detailed += p != image.pixel(x + 1, y) || p != image.pixel(x, y + 1) || p != image.pixel(x + 1, y + 1);
        }
    return c;
}

}  // namespace

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

// Start-up draws the face on a worker thread: the first paint shows what it would
// have drawn itself, at the screen's pixel density.
TEST(WindowOutline, TheFaceDrawnAheadPaintsAsTheFirstPaintWould)
{
    tandrel::testing::FakeServices fake;
    fake.settings.values[settings::kUserSetup] = "1";
    DumpState MAIN;
    frmMain plain(fake.services, MAIN), ahead(fake.services, MAIN);
    ahead.DrawFaceAhead();
    const QImage expected = plain.grab().toImage();
    const QImage got = ahead.grab().toImage();
    EXPECT_EQ(got.devicePixelRatio(), expected.devicePixelRatio());
    EXPECT_TRUE(got == expected);
}

// The window as drawn, before the window system cuts it: a translucent window leaves
// every pixel outside the outline clear; one that is cut needs every pixel in it opaque.
TEST(WindowShaping, PaintsWhatEachWayOfShapingNeeds)
{
    const struct {
        const char* name; WindowShaping how; bool translucent;
    } cases[] = {{"cut", WindowShaping::Cut, false}, {"translucent", WindowShaping::Translucent, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        tandrel::testing::FakeServices fake;
        DumpState MAIN;
        frmMain w(fake.services, MAIN);
        ApplyWindowShape(w, c.how);
        EXPECT_EQ(w.testAttribute(Qt::WA_TranslucentBackground), c.translucent);
        EXPECT_EQ(w.mask(), WindowOutline()) << "clicks outside the outline must pass through";
        w.show();
        const qreal ratio = w.devicePixelRatioF();
        const QImage shown = w.grab().toImage();
        ASSERT_EQ(shown.size(), QSize(451, 238) * ratio);
        const Census seen = census(shown, ratio);
        EXPECT_EQ(seen.holes, 0);
        if (c.translucent) {
            EXPECT_EQ(seen.leaks, 0) << "drawn outside the outline";
            EXPECT_GT(seen.partial, 300 * ratio) << "the rim is not antialiased";
        } else {
            EXPECT_EQ(seen.partial, 0) << "pixels the window system would show black";
        }
        EXPECT_GT(seen.ink, 150 * ratio * ratio) << "the name on the tab is missing";
        if (ratio >= 2) {
            EXPECT_GT(seen.detailed, 100) << "the face is drawn for a lower density than the screen's";
        }
    }
}
