// SPDX-License-Identifier: GPL-3.0-or-later
// The verdict lamp, the details window and the question before Send, on the real
// window over doubled services.
#include "Dt1.h"
#include "app/DumpDetailsWindow.h"
#include "app/VerdictLamp.h"
#include "dump/DumpWindow.h"
#include "support/LampColour.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QEventLoop>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

// Readable failures.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

using namespace tandrel;
using namespace tandrel::testing;
using namespace std::string_literals;

namespace {

ByteString generated(std::size_t size)
{
    std::string error;
    const gt3sim::Bytes dump = gt3sim::generateDump(size, 0, 0x10, 3, &error);
    return ByteString(dump.begin(), dump.end());
}

const ByteString kGood = generated(5000);  // 22 messages, from 4 to a patch of 268, 268, 268 and 112 bytes
const ByteString kYamaha = "\xF0\x43\x00\x09\x20\x00\x63\x2A\xF7"s;
//! kGood with one data bit flipped in its third and its sixth message.
const ByteString kDamaged = [] {
    ByteString d = kGood;
    d[268 * 2 + 20] ^= 0x04;
    d[268 * 3 + 112 + 268 + 50] ^= 0x01;
    return d;
}();

void wait(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

//! Which of the lamp's colours its painted face shows, read from its pixels.
QString paintedColour(VerdictLamp& lamp)
{
    const QImage face = lamp.grab().toImage();
    // Above the glyph, inside the bezel.
    return lampColour(face.pixelColor(face.width() / 2, face.height() / 5));
}

struct Fixture : DumpWindow {
    QTemporaryDir dir;
    VerdictLamp& lamp() { return *w->lampVerdict; }
    void open(const ByteString& bytes)
    {
        const QString path = dir.filePath("dump.syx");
        ASSERT_TRUE(writeFile(path, bytes));
        fake.dialog.willChoose(path);
        w->cmdOpen->click();
    }
};

const QString kDetailsKey = " (details: Ctrl+D)";

TEST(VerdictLamp, ShowsTheVerdictOfAnOpenedFileAtOnce)
{
    const struct {
        const char* what;
        ByteString dump;
        Verdict verdict;
        QString colour, tooltip;
    } cases[] = {
        {"nothing held", "", Verdict::Empty, "dark", "No dump held"},
        {"a good GT-3 dump", kGood, Verdict::Good, "green", "22 messages, 5,000 bytes; every checksum valid"},
        {"another maker's message after it", kGood + kYamaha, Verdict::Warnings, "amber",
         "23 messages, 5,009 bytes; every checksum valid; 1 message not from Roland"},
        {"a cut-off message at the end", kGood + "\xF0\x41\x10", Verdict::Warnings, "amber",
         "22 messages, 5,003 bytes; every checksum valid; 3 bytes after the last F7"},
        {"two flipped bits", kDamaged, Verdict::Errors, "red", "22 messages, 5,000 bytes; 2 bad checksums"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Fixture f;
        if (!c.dump.empty())
            f.open(c.dump);
        EXPECT_EQ(f.lamp().verdict(), c.verdict);
        EXPECT_EQ(paintedColour(f.lamp()), c.colour);
        EXPECT_EQ(f.lamp().toolTip(), c.tooltip + kDetailsKey);
        EXPECT_EQ(f.lamp().accessibleName(), "Dump verdict");
        EXPECT_TRUE(f.lamp().accessibleDescription().contains(c.tooltip));
        // The status line says what it always said.
        EXPECT_EQ(f.w->statusText(), c.dump.empty() ? "Ready to Receive or Open"
                                                    : " /dump.syx open\r  Set GT-3 to receive; click Send to transmit.");
    }
}

TEST(VerdictLamp, GoesDarkWheneverTheDumpIsEmptied)
{
    const struct {
        const char* what;
        std::function<void(Fixture&)> empty;
    } cases[] = {
        {"Receive", [](Fixture& f) { f.w->cmdReceive->click(); }},
        {"Save", [](Fixture& f) { f.fake.dialog.willChoose(f.dir.filePath("saved.syx")); f.w->cmdSave->click(); }},
        {"Send", [](Fixture& f) { f.w->cmdSend->click(); }},
        {"an Open that cannot read its file", [](Fixture& f) { f.fake.dialog.willChoose(f.dir.filePath("none.syx")); f.w->cmdOpen->click(); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Fixture f;
        f.open(kGood);
        ASSERT_EQ(f.lamp().verdict(), Verdict::Good);
        c.empty(f);
        EXPECT_TRUE(f.MAIN.sSysexData.empty());
        EXPECT_EQ(f.lamp().verdict(), Verdict::Empty);
        EXPECT_EQ(paintedColour(f.lamp()), "dark");
    }
}

TEST(VerdictLamp, JudgesAReceivedDumpOnceTheInputIsQuiet)
{
    Fixture f;
    const std::vector<std::size_t> lengths{268, 268, 268, 112};
    std::vector<ByteString> first;
    for (std::size_t at = 0, i = 0; i < lengths.size(); at += lengths[i++])
        first.push_back(kGood.substr(at, lengths[i]));
    f.fake.in.deliver(first);
    EXPECT_EQ(f.lamp().verdict(), Verdict::Empty) << "judged before the input went quiet";
    EXPECT_TRUE(f.lamp().waitingForQuiet());
    wait(VerdictLamp::kQuietMs + 300);
    EXPECT_EQ(f.lamp().verdict(), Verdict::Good);
    EXPECT_EQ(f.lamp().toolTip(), "4 messages, 916 bytes; every checksum valid" + kDetailsKey);
    EXPECT_EQ(f.w->statusText(), "Received 916 bytes; Save");

    // More arrives, this time damaged: judged again once quiet.
    ByteString bad = kGood.substr(916, 268);
    bad[30] ^= 0x10;
    f.fake.in.deliver({bad});
    EXPECT_EQ(f.lamp().verdict(), Verdict::Good);
    wait(VerdictLamp::kQuietMs + 300);
    EXPECT_EQ(f.lamp().verdict(), Verdict::Errors);
    EXPECT_EQ(paintedColour(f.lamp()), "red");
    EXPECT_EQ(f.lamp().toolTip(), "5 messages, 1,184 bytes; 1 bad checksum" + kDetailsKey);
    // Saving it asks nothing more than it always did.
    f.fake.dialog.willChoose(f.dir.filePath("received.syx"));
    f.w->cmdSave->click();
    EXPECT_TRUE(f.fake.boxes.boxes.empty());
    EXPECT_EQ(fileBytes(f.dir.filePath("received.syx")), kGood.substr(0, 916) + bad);
}

TEST(DetailsWindow, ListsTheMessagesAndMarksTheDamagedOnes)
{
    Fixture f;
    f.open(kDamaged + "\xF0\x41"s);
    // The shortcut opens it, as the lamp's tooltip says.
    f.w->show();
    QApplication::setActiveWindow(f.w.get());
    QTest::keyClick(f.w.get(), Qt::Key_D, Qt::ControlModifier);
    DumpDetailsWindow* d = f.lamp().detailsWindow();
    ASSERT_NE(d, nullptr);
    EXPECT_TRUE(d->isVisible());
    QAbstractItemModelTester tester(d->shownRows(), QAbstractItemModelTester::FailureReportingMode::Warning);
    EXPECT_EQ(d->lblSummary->text(), "22 messages, 5,002 bytes; 2 bad checksums; 2 bytes after the last F7");
    ASSERT_EQ(d->shownRows()->rowCount(), 23);

    d->chkProblemsOnly->setChecked(true);
    QStringList rows;
    for (int r = 0; r < d->shownRows()->rowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < DumpReportModel::ColumnCount; ++c)
            cells << d->shownRows()->index(r, c).data().toString();
        rows << cells.join(u'|');
    }
    EXPECT_EQ(rows, QStringList({"3|536|268|00 1B|0A 00 04 00|256|BAD|bad checksum",
                                 "6|1,184|268|00 1B|0A 01 02 00|256|BAD|bad checksum",
                                 "|5,000|2|||||bytes after the last F7"}));
    d->chkProblemsOnly->setChecked(false);
    EXPECT_EQ(d->shownRows()->rowCount(), 23);

    d->cmdCopy->click();
    const QStringList copied = QGuiApplication::clipboard()->text().split(u'\n');
    ASSERT_GT(copied.size(), 4);
    EXPECT_EQ(copied[0], d->lblSummary->text());
    EXPECT_EQ(copied[1], "#\tOffset\tLength\tModel\tAddress\tData bytes\tChecksum\tProblems");
    EXPECT_EQ(copied[2], "1\t0\t268\t00 1B\t0A 00 00 00\t256\tvalid\t");
    EXPECT_EQ(copied[4], "3\t536\t268\t00 1B\t0A 00 04 00\t256\tBAD\tbad checksum");
}

TEST(DetailsWindow, FollowsADumpThatIsStillArriving)
{
    Fixture f;
    f.fake.in.deliver({kGood.substr(0, 268)});
    f.lamp().click();
    DumpDetailsWindow* d = f.lamp().detailsWindow();
    ASSERT_NE(d, nullptr);
    ASSERT_EQ(d->reportModel()->rowCount(), 1);
    QAbstractItemModelTester tester(d->reportModel(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    int inserted = 0, resets = 0;
    QObject::connect(d->reportModel(), &QAbstractItemModel::rowsInserted, [&] { ++inserted; });
    QObject::connect(d->reportModel(), &QAbstractItemModel::modelReset, [&] { ++resets; });
    f.fake.in.deliver({kGood.substr(268, 268), kGood.substr(536, 268)});
    wait(VerdictLamp::kFollowMs + 200);
    EXPECT_TRUE(f.lamp().waitingForQuiet()) << "the lamp waits for quiet while the window follows";
    EXPECT_EQ(d->reportModel()->rowCount(), 3);
    EXPECT_EQ(d->shownRows()->index(2, DumpReportModel::Offset).data().toString(), "536");
    EXPECT_EQ(inserted, 1);
    EXPECT_EQ(resets, 0);
    EXPECT_EQ(d->lblSummary->text(), "3 messages, 804 bytes; every checksum valid");
    // A new Receive empties the table.
    f.fake.boxes.answers = {MessageBoxes::vbNo};  // not saved first
    f.w->cmdReceive->click();
    EXPECT_EQ(d->reportModel()->rowCount(), 0);
    EXPECT_EQ(d->lblSummary->text(), "No dump held");
}

TEST(SendQuestion, OnlyADamagedDumpAsksAndNoSendsNothing)
{
    const QString question = "This dump has 2 damaged messages (bad checksum or broken framing). Sending it could "
                             "leave wrong data in the GT-3. Send anyway?";
    const struct {
        const char* what;
        ByteString dump;
        std::deque<int> answers;
        bool asked;
        std::size_t sent;
    } cases[] = {
        {"damaged, No", kDamaged, {MessageBoxes::vbNo}, true, 0},
        {"damaged, the default (No)", kDamaged, {}, true, 0},
        {"damaged, Yes", kDamaged, {MessageBoxes::vbYes}, true, 22},
        {"good", kGood, {}, false, 22},
        {"warnings only", kGood + kYamaha + "\xF0", {}, false, 23},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Fixture f;
        f.open(c.dump);
        const QString opened = f.w->statusText();
        f.fake.boxes.answers = c.answers;
        f.w->cmdSend->click();
        ASSERT_EQ(f.fake.boxes.boxes.size(), c.asked ? 1u : 0u);
        if (c.asked) {
            EXPECT_EQ(f.fake.boxes.boxes[0].prompt, question);
            EXPECT_EQ(f.fake.boxes.boxes[0].title, "Tandrel");
            EXPECT_EQ(f.fake.boxes.boxes[0].style, MessageBoxes::vbYesNoWarningDefaultNo);
        }
        EXPECT_EQ(f.out.sent.size(), c.sent);
        if (c.sent == 0) {
            // Nothing moved: the dump is still held, under its own status text.
            EXPECT_EQ(f.MAIN.sSysexData, c.dump);
            EXPECT_EQ(f.w->statusText(), opened);
            EXPECT_TRUE(f.fake.log.only("out.MessageStatus").empty());
            EXPECT_EQ(f.fake.beeper.beeps, 0);
        } else {
            EXPECT_EQ(f.out.sent.front(), c.dump.substr(0, 268));
            EXPECT_EQ(f.w->statusText(), "Sent sysex to GT-3--ready to Receive or Open");
        }
    }
}

}  // namespace
