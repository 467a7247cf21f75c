// SPDX-License-Identifier: GPL-3.0-or-later
// Save, Open and the three save-first prompts, on the real main window with real
// files and doubled dialogs and ports.
#include "dump/DumpWindow.h"

#include <QDir>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <numeric>

using namespace tandrel;
using namespace tandrel::testing;
using Log = std::vector<std::string>;

namespace {

struct Fixture : DumpWindow {
    QTemporaryDir dir;
    QString path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
};

ByteString everyByte()
{
    ByteString all(256, '\0');
    std::iota(all.begin(), all.end(), '\0');
    return all;
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
    const auto describe = [](const FakeFileDialog::Shown& d) {
        return QStringList{d.saving ? "save" : "open", QString::number(d.DialogFlags, 16), d.FileFilter, d.OKCaption,
                           d.CancelCaption, d.DefaultExtension, d.InitialFolder}.join('|');
    };
    EXPECT_EQ(describe(f.fake.dialog.shown[0]),
              "save|80006|*.syx -- GT-3 SysEx Bulk Dump Files|*.syx|Save|Cancel|syx|/home/gt3/dumps");
    EXPECT_EQ(describe(f.fake.dialog.shown[1]),
              "open|80004|*.syx -- GT-3 Bulk Dump SysEx Files|*.syx|Send|Cancel|syx|/home/gt3/dumps");
    EXPECT_EQ(f.fake.dialog.shown[0].OwnerWindow, f.w.get());
    EXPECT_EQ(f.fake.dialog.shown[1].OwnerWindow, nullptr);
}

TEST(SaveCommand, WritesTheDumpOrLeavesEverythingAsItWas)
{
    const struct {
        const char* name; ByteString dump; const char* chosen /* nullptr: dialog cancelled */; bool written;
    } cases[] = {
        {"every byte value over a longer file", everyByte(), "dump.syx", true},
        {"path below a file", everyByte(), "dump.syx/below.syx", false},
        {"dialog cancelled", everyByte(), nullptr, false},
        {"no dump", {}, "dump.syx", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        ASSERT_TRUE(writeFile(f.path("dump.syx"), ByteString(1000, 'z')));
        f.MAIN.sSysexData = c.dump;
        f.w->bDumpUnsaved = true;
        f.w->setStatusColour(frmMain::kYellow);
        f.w->setStatusText(QStringLiteral("Received 256 bytes; Save"));
        c.chosen ? f.fake.dialog.willChoose(f.path(c.chosen)) : f.fake.dialog.willCancel();
        f.w->cmdSave->click();
        const bool completed = c.chosen && !c.dump.empty();
        EXPECT_EQ(f.fake.dialog.shown.size(), c.dump.empty() ? 0u : 1u);
        EXPECT_EQ(f.fake.log.only("MsgBox:"), c.dump.empty() ? Log{"MsgBox:There's no GT-3 data to save."} : Log{});
        EXPECT_EQ(fileBytes(f.path("dump.syx")), c.written ? c.dump : ByteString(1000, 'z'));
        EXPECT_EQ(f.MAIN.sSysexData, completed ? ByteString() : c.dump);
        EXPECT_EQ(f.w->bDumpUnsaved, !completed);
        EXPECT_EQ(f.w->statusColour(), completed ? frmMain::kGreen : frmMain::kYellow);
        EXPECT_EQ(f.w->statusText(), "Received 256 bytes; Save");
        EXPECT_TRUE(c.dump.empty() || f.w->focusWidget() == f.w->cmdFocus);
    }
}

TEST(OpenCommand, ReadsTheFileNamesItAndReopensTheOutput)
{
    const struct {
        const char* name; const char* file /* nullptr: cancelled */; bool folderEndsWithSeparator;
        ByteString content /* not written for "absent.syx" */; std::int16_t outState; const char* storedOut; Log outLog;
    } cases[] = {
        {"every byte, folder without separator", "a.syx", false, everyByte(), MIDIOutput::Closed, nullptr,
         {"out.DeviceID=0", "out.Command=1"}},
        {"folder with separator, output open", "a.syx", true, "\x41\x42", MIDIOutput::Opened, " 2",
         {"out.DeviceID=2", "out.Command=2", "out.Command=1"}},
        {"empty file, output on the mapper", "a.syx", false, {}, MIDIOutput::Closed, "-1",
         {"out.DeviceID=-1", "out.Command=2", "out.Command=1"}},
        {"file that does not exist", "absent.syx", false, {}, MIDIOutput::Closed, "junk",
         {"out.DeviceID=0", "out.Command=1"}},
        {"dialog cancelled", nullptr, false, "held", MIDIOutput::Closed, nullptr, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        const QString folder = QDir(f.dir.path()).absolutePath();
        const QString name = c.file ? QString::fromLatin1(c.file) : QString();
        ASSERT_TRUE(!c.file || name == QLatin1String("absent.syx") || writeFile(folder + '/' + name, c.content));
        if (c.file)
            f.fake.dialog.answers.push_back({false, folder + '/' + name, folder + (c.folderEndsWithSeparator ? "/" : "")});
        f.out.state = c.outState;
        if (c.storedOut)
            f.fake.settings.values[settings::kMIDIOutputDeviceID] = QString::fromLatin1(c.storedOut);
        f.MAIN.sSysexData = "held";
        f.MAIN.lByteCount = 4;
        f.w->setStatusText(QStringLiteral("before"));
        f.w->setStatusColour(frmMain::kYellow);
        f.w->cmdOpen->click();
        EXPECT_EQ(f.MAIN.sSysexData, c.content);
        EXPECT_EQ(f.MAIN.lByteCount, 4);
        EXPECT_EQ(f.w->statusText(), !c.file ? QStringLiteral("before")
                                             : QStringLiteral(" %1 open\r  Set GT-3 to receive; click Send to transmit.")
                                                   .arg((c.folderEndsWithSeparator ? "" : "/") + name));
        EXPECT_EQ(f.w->statusColour(), frmMain::kYellow);
        Log expected{"ShowOpenDialog"};
        if (c.file)
            expected.insert(expected.end(), {"in.Filter(249)=1", "in.Filter(176)=1", "in.Filter(192)=1",
                                             "in.Filter(254)=1", "in.Filter(248)=1"});
        expected.insert(expected.end(), c.outLog.begin(), c.outLog.end());
        EXPECT_EQ(f.fake.log.entries(), expected);
        EXPECT_TRUE(!c.file || (f.out.state == MIDIOutput::Opened && f.w->focusWidget() == f.w->cmdFocus));
    }
}

TEST(SaveFirstPrompts, EveryAnswerOfQuitOpenAndReceive)
{
    enum Command { Quit, Open, Receive };
    enum SaveDialog { NotShown, Saved, Cancelled };
    const char* prompts[] = {
        "You received a bulk dump but have not saved it as a file. Do you want to save it before quitting Tandrel?",
        "You received a bulk dump but have not saved it as a file. Do you want to save it before opening a sysex file?",
        "There is a previously received bulk dump. Do you want to save it before receiving a new bulk dump?",
    };
    const ByteString received = "\xF0\x41\xF7", opened = "\xF0\x42\xF7";
    const int Yes = MessageBoxes::vbYes, No = MessageBoxes::vbNo, Cancel = MessageBoxes::vbCancel;
    struct Case { Command command; int answer; SaveDialog save; bool dumpAlreadyEmpty; };
    std::vector<Case> cases;
    for (const Command command : {Quit, Open, Receive})
        for (const Case c : {Case{command, Cancel, NotShown, false}, {command, No, NotShown, false},
                             {command, Yes, Saved, false}, {command, Yes, Cancelled, false}, {command, Yes, NotShown, true}})
            cases.push_back(c);
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.command << ' ' << c.answer << ' ' << c.save << ' ' << c.dumpAlreadyEmpty);
        const bool goesOn = c.answer != Cancel;
        Fixture f;
        ASSERT_TRUE(writeFile(f.path("opened.syx"), opened));
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
        Log boxes{std::string("MsgBox:") + prompts[c.command]};
        if (c.dumpAlreadyEmpty)
            boxes.push_back("MsgBox:There's no GT-3 data to save.");
        EXPECT_EQ(f.fake.log.only("MsgBox:"), boxes);
        EXPECT_EQ(f.fake.boxes.boxes[0].style, MessageBoxes::vbYesNoCancelQuestion);
        std::string dialogs;
        for (const auto& d : f.fake.dialog.shown)
            dialogs += d.saving ? 'S' : 'O';
        EXPECT_EQ(dialogs, std::string(c.save == NotShown ? "" : "S") + (c.command == Open && goesOn ? "O" : ""));
        EXPECT_EQ(fileBytes(f.path("saved.syx")), c.save == Saved ? received : "<missing>");
        EXPECT_EQ(f.w->bDumpUnsaved, c.save != Saved);
        const ByteString after[] = {c.save == Saved ? ByteString() : before, opened, ByteString()};
        EXPECT_EQ(f.MAIN.sSysexData, goesOn ? after[c.command] : before);
        EXPECT_EQ(f.w->unloaded(), c.command == Quit && goesOn);
        // Cancel leaves the ports alone as well.
        EXPECT_TRUE(goesOn || (f.fake.log.only("in.").empty() && f.fake.log.only("out.").empty()));
        EXPECT_EQ(f.MAIN.lByteCount, c.command == Receive && goesOn ? 0 : static_cast<std::int32_t>(before.size()));
    }
}
