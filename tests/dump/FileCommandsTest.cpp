// SPDX-License-Identifier: GPL-3.0-or-later
// Save, Open and the three save-first prompts, on the real main window with real
// files and doubled dialogs and ports.
#include "app/frmMain.h"
#include "platform/testing/FakeServices.h"
#include "setup/SettingsKeys.h"

#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <numeric>

using namespace tandrel;
using namespace tandrel::testing;
using Log = std::vector<std::string>;

namespace {

const QString kNoData = QStringLiteral("There's no GT-3 data to save.");
const QString kSetGt3 = QStringLiteral("  Set GT-3 to receive; click Send to transmit.");

struct Fixture {
    FakeServices fake;
    DumpState MAIN;
    std::unique_ptr<frmMain> w;
    QTemporaryDir dir;
    Fixture()
    {
        fake.settings.values[settings::kUserSetup] = QStringLiteral("1");
        w = std::make_unique<frmMain>(fake.services, MAIN);
        w->Form_Load();
        fake.log.clear();
    }
    QString path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
};

ByteString everyByte()
{
    ByteString all(256, '\0');
    std::iota(all.begin(), all.end(), '\0');
    return all;
}

ByteString fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : "<missing>";
}

void writeFile(const QString& path, const ByteString& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes.data(), static_cast<qint64>(bytes.size()));
}

}  // namespace

TEST(FileDialogSetUp, DiffersBetweenSavingAndOpening)
{
    Fixture f;
    f.MAIN.sUserFolder = QStringLiteral("/home/gt3/dumps");
    f.MAIN.sSysexData = "x";
    f.w->cmdSave->click();
    f.w->cmdOpen->click();
    ASSERT_EQ(f.fake.dialog.shown.size(), 2u);
    const struct {
        bool saving; std::uint32_t flags; const char* filter; QWidget* owner; const char* ok;
    } expected[] = {
        {true, 0x80006, "*.syx -- GT-3 SysEx Bulk Dump Files|*.syx", f.w.get(), "Save"},
        {false, 0x80004, "*.syx -- GT-3 Bulk Dump SysEx Files|*.syx", nullptr, "Send"}};
    for (int i = 0; i < 2; ++i) {
        const auto& d = f.fake.dialog.shown[i];
        EXPECT_EQ(d.saving, expected[i].saving);
        EXPECT_EQ(d.DialogFlags, expected[i].flags);
        EXPECT_EQ(d.FileFilter, expected[i].filter);
        EXPECT_EQ(d.OwnerWindow, expected[i].owner);
        EXPECT_EQ(d.OKCaption, expected[i].ok);
        EXPECT_EQ(d.DefaultExtension, "syx");
        EXPECT_EQ(d.InitialFolder, "/home/gt3/dumps");
        EXPECT_EQ(d.CancelCaption, "Cancel");
    }
}

TEST(SaveCommand, WritesTheDumpOrLeavesEverythingAsItWas)
{
    const struct {
        const char* name; ByteString dump; const char* chosen /* nullptr: dialog cancelled */; bool written;
    } cases[] = {
        {"every byte value over a longer file", everyByte(), "dump.syx", true},
        {"folder that does not exist", everyByte(), "missing/dump.syx", false},
        {"dialog cancelled", everyByte(), nullptr, false},
        {"no dump", {}, "dump.syx", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        writeFile(f.path("dump.syx"), ByteString(1000, 'z'));
        f.MAIN.sSysexData = c.dump;
        f.w->bDumpUnsaved = true;
        f.w->setStatusColour(frmMain::kYellow);
        f.w->setStatusText(QStringLiteral("Received 256 bytes; Save"));
        c.chosen ? f.fake.dialog.willChoose(f.path(c.chosen)) : f.fake.dialog.willCancel();
        f.w->cmdSave->click();

        const bool completed = c.chosen && !c.dump.empty();
        EXPECT_EQ(f.fake.dialog.shown.size(), c.dump.empty() ? 0u : 1u);
        EXPECT_EQ(f.fake.boxes.boxes.size(), c.dump.empty() ? 1u : 0u);
        EXPECT_EQ(fileBytes(f.path("dump.syx")), c.written ? c.dump : ByteString(1000, 'z'));
        EXPECT_EQ(f.MAIN.sSysexData, completed ? ByteString() : c.dump);
        EXPECT_EQ(f.w->bDumpUnsaved, !completed);
        EXPECT_EQ(f.w->statusColour(), completed ? frmMain::kGreen : frmMain::kYellow);
        EXPECT_EQ(f.w->statusText(), "Received 256 bytes; Save");
        if (!c.dump.empty()) {
            EXPECT_EQ(f.w->focusWidget(), f.w->cmdFocus);
        }
    }
}

TEST(OpenCommand, ReadsTheFileNamesItAndReopensTheOutput)
{
    const struct {
        const char* name;
        const char* file;  // under the temporary folder
        bool folderEndsWithSeparator;
        ByteString content;  // nothing is written when empty and the name is "absent.syx"
        std::int16_t outState;
        const char* storedOut;
        Log outLog;
    } cases[] = {
        {"every byte, folder without separator", "a.syx", false, everyByte(), MIDIOutput::Closed, nullptr,
         {"out.DeviceID=0", "out.Command=1"}},
        {"folder with separator, output open", "a.syx", true, "\x41\x42", MIDIOutput::Opened, " 2",
         {"out.DeviceID=2", "out.Command=2", "out.Command=1"}},
        {"empty file, output on the mapper", "a.syx", false, {}, MIDIOutput::Closed, "-1",
         {"out.DeviceID=-1", "out.Command=2", "out.Command=1"}},
        {"file that does not exist", "absent.syx", false, {}, MIDIOutput::Closed, "junk",
         {"out.DeviceID=0", "out.Command=1"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        const QString folder = QDir(f.dir.path()).absolutePath();
        const QString path = folder + QLatin1Char('/') + QString::fromLatin1(c.file);
        if (QLatin1String(c.file) != QLatin1String("absent.syx"))
            writeFile(path, c.content);
        f.fake.dialog.answers.push_back({false, path, c.folderEndsWithSeparator ? folder + QLatin1Char('/') : folder});
        f.fake.out.state = c.outState;
        if (c.storedOut)
            f.fake.settings.values[settings::kMIDIOutputDeviceID] = QString::fromLatin1(c.storedOut);
        f.MAIN.sSysexData = "held";
        f.MAIN.lByteCount = 4;
        f.w->setStatusColour(frmMain::kYellow);
        f.w->cmdOpen->click();

        EXPECT_EQ(f.MAIN.sSysexData, c.content);
        EXPECT_EQ(f.MAIN.lByteCount, 4);
        const QString shownName = (c.folderEndsWithSeparator ? "" : "/") + QString::fromLatin1(c.file);
        EXPECT_EQ(f.w->statusText(), QLatin1Char(' ') + shownName + QStringLiteral(" open\r") + kSetGt3);
        EXPECT_EQ(f.w->statusColour(), frmMain::kYellow);
        Log expected{"ShowOpenDialog",   "in.Filter(249)=1", "in.Filter(176)=1", "in.Filter(192)=1",
                     "in.Filter(254)=1", "in.Filter(248)=1"};
        expected.insert(expected.end(), c.outLog.begin(), c.outLog.end());
        EXPECT_EQ(f.fake.log.entries(), expected);
        EXPECT_EQ(f.fake.out.state, MIDIOutput::Opened);
        EXPECT_EQ(f.w->focusWidget(), f.w->cmdFocus);
    }
}

TEST(OpenCommand, CancelledDialogChangesNothing)
{
    Fixture f;
    f.MAIN.sSysexData = "held";
    f.w->setStatusText(QStringLiteral("before"));
    f.w->cmdOpen->click();
    EXPECT_EQ(f.fake.log.entries(), Log{"ShowOpenDialog"});
    EXPECT_EQ(f.MAIN.sSysexData, "held");
    EXPECT_EQ(f.w->statusText(), "before");
}

TEST(SaveFirstPrompts, EveryAnswerOfQuitOpenAndReceive)
{
    enum Command { Quit, Open, Receive };
    enum SaveDialog { NotShown, Saved, Cancelled };
    const QString prompts[] = {
        QStringLiteral("You received a bulk dump but have not saved it as a file. "
                       "Do you want to save it before quitting Tandrel?"),
        QStringLiteral("You received a bulk dump but have not saved it as a file. "
                       "Do you want to save it before opening a sysex file?"),
        QStringLiteral("There is a previously received bulk dump. "
                       "Do you want to save it before receiving a new bulk dump?"),
    };
    const ByteString received = "\xF0\x41\xF7", opened = "\xF0\x42\xF7";
    struct Case {
        Command command;
        int answer;
        SaveDialog save;
        bool dumpAlreadyEmpty;
        bool goesOn;
    };
    std::vector<Case> cases;
    for (const Command command : {Quit, Open, Receive})
        for (const Case c : {Case{command, MessageBoxes::vbCancel, NotShown, false, false},
                             Case{command, MessageBoxes::vbNo, NotShown, false, true},
                             Case{command, MessageBoxes::vbYes, Saved, false, true},
                             Case{command, MessageBoxes::vbYes, Cancelled, false, true},
                             Case{command, MessageBoxes::vbYes, NotShown, true, true}})
            cases.push_back(c);
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "command " << c.command << " answer " << c.answer << " save " << c.save
                                        << " empty " << c.dumpAlreadyEmpty);
        Fixture f;
        writeFile(f.path("opened.syx"), opened);
        const ByteString before = c.dumpAlreadyEmpty ? ByteString() : received;
        f.MAIN.sSysexData = before;
        f.MAIN.lByteCount = static_cast<std::int32_t>(before.size());
        f.w->bDumpUnsaved = true;
        f.fake.in.state = MIDIInput::Delivering;
        f.fake.boxes.answers.push_back(c.answer);
        if (c.save != NotShown)
            c.save == Saved ? f.fake.dialog.willChoose(f.path("saved.syx")) : f.fake.dialog.willCancel();
        f.fake.dialog.willChoose(f.path("opened.syx"));
        QPushButton* button[] = {f.w->cmdQuit, f.w->cmdOpen, f.w->cmdReceive};
        button[c.command]->click();

        QStringList boxes;
        for (const auto& b : f.fake.boxes.boxes)
            boxes << b.prompt;
        EXPECT_EQ(boxes, QStringList{prompts[c.command]} + (c.dumpAlreadyEmpty ? QStringList{kNoData} : QStringList{}));
        EXPECT_EQ(f.fake.boxes.boxes[0].style, MessageBoxes::vbYesNoCancelQuestion);

        std::string dialogs;
        for (const auto& d : f.fake.dialog.shown)
            dialogs += d.saving ? 'S' : 'O';
        const std::string expectedDialogs =
            std::string(c.save == NotShown ? "" : "S") + (c.command == Open && c.goesOn ? "O" : "");
        EXPECT_EQ(dialogs, expectedDialogs);
        EXPECT_EQ(fileBytes(f.path("saved.syx")), c.save == Saved ? received : "<missing>");
        EXPECT_EQ(f.w->bDumpUnsaved, c.save != Saved);

        const ByteString after[] = {c.save == Saved ? ByteString() : before, opened, ByteString()};
        EXPECT_EQ(f.MAIN.sSysexData, c.goesOn ? after[c.command] : before);
        EXPECT_EQ(f.w->unloaded(), c.command == Quit && c.goesOn);
        // Cancel leaves the ports alone as well.
        EXPECT_TRUE(c.goesOn || (f.fake.log.only("in.").empty() && f.fake.log.only("out.").empty()));
        EXPECT_EQ(f.MAIN.lByteCount, c.command == Receive && c.goesOn ? 0 : static_cast<std::int32_t>(before.size()));
    }
}
