// SPDX-License-Identifier: GPL-3.0-or-later
// The verifier against gt3sim's dumps and the same dumps damaged in known places
// (tests/cli checks it on real instruments' files); then its verdict on the real
// window over doubled services: the lamp, the details window and the question before
// Send, offscreen and photographed on a private X server.
#include "Dt1.h"
#include "app/DumpDetailsWindow.h"
#include "app/VerdictLamp.h"
#include "dump/DumpVerifier.h"
#include "dump/DumpWindow.h"
#include "support/Helpers.h"
#include "support/PrivateDisplay.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>


// Readable failures.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

using namespace tandrel;
using namespace tandrel::testing;
using namespace std::string_literals;

namespace {

ByteString generated(std::size_t size, std::size_t block = 0, unsigned device = 0x10)
{
    std::string error;
    const gt3sim::Bytes dump = gt3sim::generateDump(size, block, device, 7, &error);
    EXPECT_TRUE(error.empty()) << error;
    return ByteString(dump.begin(), dump.end());
}

//! Where each message of a dump starts, found here without the verifier.
std::vector<std::size_t> starts(const ByteString& dump)
{
    std::vector<std::size_t> at{0};
    for (std::size_t i = 0; i + 1 < dump.size(); ++i)
        if (byteAt(dump, i) == 0xF7)
            at.push_back(i + 1);
    return at;
}

//! The messages that carry a problem, as (index, problems).
std::vector<std::pair<std::size_t, int>> problemRows(const DumpReport& r)
{
    std::vector<std::pair<std::size_t, int>> rows;
    for (std::size_t i = 0; i < r.messages.size(); ++i)
        if (r.messages[i].problems)
            rows.emplace_back(i, r.messages[i].problems);
    return rows;
}

TEST(DumpVerifier, Gt3simDumpsAreGood)
{
    const struct {
        std::size_t size, block;
        unsigned device;
    } cases[] = {{125000, 0, 0x10}, {13, 0, 0x10}, {40000, 64, 0x00}, {9000, 0, 0x7F}, {20000, 300, 0x10}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.size << " bytes, blocks of " << c.block);
        const ByteString dump = generated(c.size, c.block, c.device);
        const DumpReport r = VerifyDump(dump);
        const std::vector<std::size_t> at = starts(dump);
        EXPECT_EQ(r.verdict, Verdict::Good) << r.summary();
        ASSERT_EQ(r.messages.size(), at.size());
        for (std::size_t i = 0; i < at.size(); ++i) {
            const MessageReport& m = r.messages[i];
            EXPECT_EQ(m.offset, at[i]);
            EXPECT_EQ(m.length, (i + 1 < at.size() ? at[i + 1] : dump.size()) - at[i]);
            EXPECT_EQ(m.dataLength, m.length - 12);
            EXPECT_EQ(HexBytes(m.model, m.modelLength), "00 1B");
            EXPECT_EQ(m.checksum, Checksum::Valid);
            EXPECT_EQ(m.problems, 0) << "message " << i;
        }
        EXPECT_EQ(r.summary(), GroupedNumber(at.size()) + (at.size() == 1 ? " message, " : " messages, ") +
                                   GroupedNumber(c.size) + " bytes; every checksum valid");
    }
}

TEST(DumpVerifier, DamageIsFoundWhereItIs)
{
    const ByteString good = generated(30000);
    const std::vector<std::size_t> at = starts(good);
    ASSERT_GT(at.size(), 20u);
    auto erase = [&](std::size_t k) { return good.substr(0, at[k]) + good.substr(at[k + 1]); };
    auto change = [&](std::size_t where, char to) { ByteString d = good; d[where] = to; return d; };
    auto flip = [&](std::size_t where, int bit) { return change(where, char(good[where] ^ (1 << bit))); };
    // Patches go out in blocks of 256, 256, 256 and 100 data bytes: message 4 opens the second patch.
    const struct {
        const char* what;
        ByteString dump;
        Verdict verdict;
        std::vector<std::pair<std::size_t, int>> rows;
        std::size_t problemOffset;  // of the first problem row, where it is damage
    } cases[] = {
        {"a data bit of the first message", flip(at[0] + 40, 3), Verdict::Errors, {{0, kBadChecksum}}, at[1] - 2},
        {"a data bit in the middle", flip(at[9] + 11, 0), Verdict::Errors, {{9, kBadChecksum}}, at[10] - 2},
        {"the last checksum", flip(good.size() - 2, 6), Verdict::Errors, {{at.size() - 1, kBadChecksum}}, good.size() - 2},
        {"an address bit", flip(at[5] + 8, 1), Verdict::Errors, {{5, kBadChecksum}}, at[6] - 2},
        {"a removed message inside a patch", erase(2), Verdict::Warnings, {{2, kAddressGap}}, 0},
        {"a removed first block of a patch", erase(4), Verdict::Warnings, {{4, kAddressGap}}, 0},
        {"a removed last block of a patch: no hint", erase(3), Verdict::Good, {}, 0},
        {"a status byte inside", change(at[7] + 30, char(0xF8)), Verdict::Errors, {{7, kStatusInside}}, at[7] + 30},
        {"a lost F0", good.substr(0, at[6]) + good.substr(at[6] + 1), Verdict::Errors, {{6, kNotFramed}}, at[6]},
        {"stray bytes before a message", good.substr(0, at[3]) + "\x01\x02" + good.substr(at[3]), Verdict::Errors,
         {{3, kNotFramed}}, at[3]},
        {"another model", change(at[8] + 4, 0x1C), Verdict::Warnings, {{8, kNotGT3}}, 0},
        {"another maker", change(at[8] + 1, 0x43), Verdict::Warnings, {{8, kNotRoland}}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const DumpReport r = VerifyDump(c.dump);
        EXPECT_EQ(r.verdict, c.verdict) << r.summary();
        EXPECT_EQ(problemRows(r), c.rows);
        if (!c.rows.empty() && (c.rows[0].second & kDamage)) {
            EXPECT_EQ(r.messages[c.rows[0].first].problemOffset, c.problemOffset);
        }
        EXPECT_EQ(r.damaged, c.verdict == Verdict::Errors ? 1u : 0u);
        EXPECT_EQ(r.trailingLength, 0u);
    }
}

TEST(DumpVerifier, SummariesSayWhatIsWrongInWords)
{
    // The lamp's tooltips below give the words for an empty dump and for a GT-3 dump with
    // another maker's message or a cut-off one after it.
    const ByteString yamaha = "\xF0\x43\x00\x09\x20\x00\x63\x2A\xF7"s;
    const ByteString korgTail = "\xF0\x42\x30\x30\x4C\x00"s;
    const ByteString u220 = "\xF0\x41\x10\x2B\x12\x00\x00\x00\x0E\x72\xF7"s;
    const struct {
        const char* what;
        ByteString dump;
        Verdict verdict;
        const char* summary;
    } cases[] = {
        {"another maker's message", yamaha, Verdict::Warnings, "1 message, 9 bytes; not a Roland dump"},
        {"no F7 at all", korgTail, Verdict::Warnings, "0 messages, 6 bytes; 6 bytes after the last F7"},
        {"another Roland model", u220, Verdict::Warnings, "1 message, 11 bytes; every checksum valid; not a GT-3 dump"},
        {"a lone F7", "\xF7"s, Verdict::Errors, "1 message, 1 byte; 1 message not starting with F0"},
        {"a GT-3 data set too short for an address", "\xF0\x41\x10\x00\x1B\x12\x01\x7F\xF7"s, Verdict::Errors,
         "1 message, 9 bytes; 1 bad checksum"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const DumpReport r = VerifyDump(c.dump);
        EXPECT_EQ(r.verdict, c.verdict);
        EXPECT_EQ(r.summary(), c.summary);
    }
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

//! Which of the verdict lamp's colours a pixel of its lens shows, by hue; the pixel's
//! own name when it is none of them.
QString lampColour(const QColor& c)
{
    const double hue = c.hueF();
    if (c.valueF() < 0.45)
        return "dark";
    if (hue > 0.25 && hue < 0.45)
        return "green";
    if (hue > 0.07 && hue < 0.17)
        return "amber";
    if (hue >= 0 && (hue < 0.03 || hue > 0.97))
        return "red";
    return c.name();
}

//! The colour the lamp's painted face shows, above the glyph, inside the bezel.
QString paintedColour(VerdictLamp& lamp)
{
    const QImage face = lamp.grab().toImage();
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

TEST(VerdictLamp, ShowsTheVerdictOfAnOpenedFileAtOnceAndGoesDarkWhenTheDumpIsEmptied)
{
    using Empty = std::function<void(Fixture&)>;
    const Empty receive = [](Fixture& f) { f.w->cmdReceive->click(); }, send = [](Fixture& f) { f.w->cmdSend->click(); };
    const Empty save = [](Fixture& f) { f.fake.dialog.willChoose(f.dir.filePath("saved.syx")); f.w->cmdSave->click(); };
    const Empty openUnread = [](Fixture& f) { f.fake.dialog.willChoose(f.dir.filePath("none.syx")); f.w->cmdOpen->click(); };
    const struct {
        const char* what; ByteString dump; Verdict verdict; QString colour, tooltip; Empty empty /* then */;
    } cases[] = {
        {"nothing held", "", Verdict::Empty, "dark", "No dump held", {}},
        {"a good GT-3 dump, then Send", kGood, Verdict::Good, "green", "22 messages, 5,000 bytes; every checksum valid", send},
        {"another maker's message after it, then Receive", kGood + kYamaha, Verdict::Warnings, "amber",
         "23 messages, 5,009 bytes; every checksum valid; 1 message not from Roland", receive},
        {"a cut-off message at the end, then an Open that cannot read its file", kGood + "\xF0\x41\x10",
         Verdict::Warnings, "amber", "22 messages, 5,003 bytes; every checksum valid; 3 bytes after the last F7", openUnread},
        {"two flipped bits, then Save", kDamaged, Verdict::Errors, "red", "22 messages, 5,000 bytes; 2 bad checksums", save},
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
        if (c.empty) {
            c.empty(f);
            EXPECT_TRUE(f.MAIN.sSysexData.empty());
            EXPECT_EQ(f.lamp().verdict(), Verdict::Empty);
            EXPECT_EQ(paintedColour(f.lamp()), "dark");
        }
    }
}

TEST(VerdictLamp, EachArrivalPushesTheVerdictBackByTheWholeQuiet)
{
    using std::chrono::milliseconds;
    Fixture f;
    const milliseconds quiet(VerdictLamp::kQuietMs);
    // Three arrivals, each well inside the quiet that the one before began.
    for (std::size_t at = 0; at < 3 * 268; at += 268) {
        f.fake.in.deliver({kGood.substr(at, 268)});
        runEventsFor(quiet * 6 / 10);
        EXPECT_TRUE(f.lamp().waitingForQuiet()) << at;
        EXPECT_EQ(f.lamp().verdict(), Verdict::Empty) << at;
    }
    runEventsFor(quiet * 7 / 10);
    EXPECT_EQ(f.lamp().verdict(), Verdict::Good);
    EXPECT_FALSE(f.lamp().waitingForQuiet());
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
    runEventsFor(std::chrono::milliseconds(VerdictLamp::kQuietMs + 300));
    EXPECT_EQ(f.lamp().verdict(), Verdict::Good);
    EXPECT_EQ(f.lamp().toolTip(), "4 messages, 916 bytes; every checksum valid" + kDetailsKey);
    EXPECT_EQ(f.w->statusText(), "Received 916 bytes; Save");

    // More arrives, this time damaged: judged again once quiet.
    ByteString bad = kGood.substr(916, 268);
    bad[30] ^= 0x10;
    f.fake.in.deliver({bad});
    EXPECT_EQ(f.lamp().verdict(), Verdict::Good);
    runEventsFor(std::chrono::milliseconds(VerdictLamp::kQuietMs + 300));
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
    runEventsFor(std::chrono::milliseconds(VerdictLamp::kFollowMs + 200));
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

//! Rows of the details table tinted as damaged: pixel rows mostly in the pink.
int pinkLines(const QImage& image)
{
    int lines = 0;
    for (int y = 0; y < image.height(); ++y) {
        int pink = 0;
        for (int x = 0; x < image.width(); ++x)
            pink += image.pixelColor(x, y) == QColor(255, 205, 205);
        lines += pink > image.width() / 2;
    }
    return lines;
}

// The window in each lamp state and the details window of a damaged dump on a private
// X server, photographed from outside with ImageMagick's import and looked at here; the
// pictures stay in the build folder, under tests/app/screenshots/, for a person to look
// at too. This program shows them itself, run again on that server.
TEST(VerdictScreens, EachLampStateAndTheDetailsWindowOnARealXServer)
{
    if (const QString into = qEnvironmentVariable("TANDREL_PHOTOGRAPH_INTO"); !into.isEmpty()) {
        const auto photograph = [&](QWidget& w, const QString& name) {
            runEventsFor(std::chrono::milliseconds(400));
            const QString screen = into + "/screen.png";
            ASSERT_EQ(QProcess::execute("import", {"-window", "root", screen}), 0);
            ASSERT_TRUE(QImage(screen).copy(w.frameGeometry()).save(into + '/' + name + ".png"));
            QFile::remove(screen);
        };
        Fixture f;
        f.w->move(40, 40);
        f.w->show();
        const std::pair<const char*, ByteString> states[] = {
            {"dark", {}}, {"green", kGood}, {"amber", kGood + kYamaha}, {"red", kDamaged}};
        for (const auto& [state, dump] : states) {
            if (!dump.empty())
                f.open(dump);
            ASSERT_NO_FATAL_FAILURE(photograph(*f.w, QStringLiteral("lamp-") + state));
        }
        f.lamp().click();
        DumpDetailsWindow* details = f.lamp().detailsWindow();
        ASSERT_NE(details, nullptr);
        details->move(60, 100);
        ASSERT_NO_FATAL_FAILURE(photograph(*details, "details"));
        details->chkProblemsOnly->setChecked(true);
        return photograph(*details, "details-problems-only");
    }
    if (const QString tool = missingTool({"Xvfb", "xdotool", "import"}); !tool.isEmpty())
        GTEST_SKIP() << tool.toStdString() << " is not installed (packages xvfb, xdotool, imagemagick)";
    PrivateDisplay x;
    const QString failed = x.start({800, 600});
    ASSERT_TRUE(failed.isEmpty()) << failed.toStdString();
    const QString dir = PrivateDisplay::screenshotFolder();
    QProcess shots;
    QProcessEnvironment env = x.environment();
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("TANDREL_PHOTOGRAPH_INTO", dir);
    // No session bus on a private display: Qt's attempt to reach one through libdbus
    // leaves a buffer behind that LeakSanitizer reports.
    env.insert("DBUS_SESSION_BUS_ADDRESS", "disabled:");
    shots.setProcessEnvironment(env);
    shots.setProcessChannelMode(QProcess::ForwardedChannels);
    shots.start(QCoreApplication::applicationFilePath(), {"--gtest_filter=VerdictScreens.*"});
    ASSERT_TRUE(shots.waitForFinished(120000));
    ASSERT_TRUE(shots.exitStatus() == QProcess::NormalExit && shots.exitCode() == 0) << "the photographs failed";

    for (const char* state : {"dark", "green", "amber", "red"}) {
        SCOPED_TRACE(state);
        const QImage window(dir + "/lamp-" + state + ".png");
        ASSERT_EQ(window.size(), QSize(451, 238));
        // From the lens, above its glyph; the lamp sits at (387, 151), 15 pixels across.
        EXPECT_EQ(lampColour(window.pixelColor(387 + 7, 151 + 3)), state);
    }
    const QImage details(dir + "/details.png"), problems(dir + "/details-problems-only.png");
    ASSERT_FALSE(details.isNull());
    ASSERT_EQ(problems.size(), details.size());
    // Two damaged messages among 22: their rows are tinted, in both views.
    const int all = pinkLines(details), only = pinkLines(problems);
    EXPECT_GT(all, 20) << "no damaged rows marked";
    EXPECT_EQ(only, all) << "the filter lost a damaged row";
}

}  // namespace
