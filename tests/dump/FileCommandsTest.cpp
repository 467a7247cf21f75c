// SPDX-License-Identifier: GPL-3.0-or-later
// Save, Open and the save-first prompts: the real window, real files (also on a hostile file system), doubled dialogs.
#include "dump/DumpWindow.h"
#include "dump/SyxFile.h"
#include "support/Helpers.h"

#include <QDir>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <numeric>

using namespace tandrel;
using namespace tandrel::testing;
using Log = std::vector<std::string>;

namespace {

const char* const kName = "Größe ß 日本語 🎸.syx";  // blanks and non-ASCII letters, as UTF-8

struct Fixture : DumpWindow {
    QTemporaryDir dir;
    QString path(const char* name) const { return dir.filePath(QString::fromUtf8(name)); }
    //! Holds a received 60000-byte dump that has not been saved.
    void receive() { fake.in.deliver({message(20000, '\x11'), message(20000, '\x22'), message(20000, '\x33')}); }
};

const ByteString kEveryByte = [] { ByteString all(256, '\0'); std::iota(all.begin(), all.end(), '\0'); return all; }();

QString openStatus(const QString& shown) { return ' ' + shown + " open\r  Set GT-3 to receive; click Send to transmit."; }

QStringList listing(const QString& folder)
{
    return folder.isEmpty() ? QStringList()
                            : QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

//! Lowers the file size limit for its life, so a write beyond it fails as on a full disk.
struct FileSizeLimit {
    explicit FileSizeLimit(rlim_t bytes)
    {
        std::signal(SIGXFSZ, SIG_IGN);  // the write fails with EFBIG instead of ending the process
        ::getrlimit(RLIMIT_FSIZE, &old);
        rlimit lowered{bytes, old.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit() { ::setrlimit(RLIMIT_FSIZE, &old); }
    rlimit old{};
};

//! A file of `size` bytes whose reads give `good` bytes and then fail, or with `endEarly` end.
struct FailingFile : QIODevice {
    FailingFile(qint64 size, qint64 good, bool endEarly) : size_(size), good_(good), endEarly_(endEarly)
    {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    qint64 size() const override { return size_; }
    qint64 readData(char* data, qint64 max) override
    {
        const qint64 n = std::max<qint64>(0, std::min(max, good_ - given_));
        std::fill_n(data, n, '\xF7');
        given_ += n;
        return n > 0 ? n : endEarly_ ? 0 : -1;
    }
    qint64 writeData(const char*, qint64) override { return -1; }
    qint64 size_, good_, given_ = 0;
    bool endEarly_;
};

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
    EXPECT_TRUE(f.fake.dialog.shown[0].OwnerWindow == f.w.get() && !f.fake.dialog.shown[1].OwnerWindow);
}

TEST(SaveCommand, WritesTheDumpOrLeavesEverythingAsItWas)
{
    const struct {
        const char* name; ByteString dump; const char* chosen /* nullptr: dialog cancelled */; bool written;
    } cases[] = {
        {"every byte value over a longer file", kEveryByte, kName, true},
        {"path below a file", kEveryByte, "Größe ß 日本語 🎸.syx/below.syx", false},
        {"dialog cancelled", kEveryByte, nullptr, false},
        {"no dump", {}, kName, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        ASSERT_TRUE(writeFile(f.path(kName), ByteString(1000, 'z')));
        f.MAIN.sSysexData = c.dump;
        f.w->bDumpUnsaved = true;
        f.w->setStatusColour(frmMain::kYellow);
        f.w->setStatusText(QStringLiteral("Received 256 bytes; Save"));
        c.chosen ? f.fake.dialog.willChoose(f.path(c.chosen)) : f.fake.dialog.willCancel();
        f.w->cmdSave->click();
        const bool completed = c.chosen && !c.dump.empty();
        EXPECT_EQ(f.fake.dialog.shown.size(), c.dump.empty() ? 0u : 1u);
        EXPECT_EQ(f.fake.log.only("MsgBox:"), c.dump.empty() ? Log{"MsgBox:There's no GT-3 data to save."} : Log{});
        EXPECT_EQ(fileBytes(f.path(kName)), c.written ? c.dump : ByteString(1000, 'z'));
        EXPECT_EQ(f.MAIN.sSysexData, completed ? ByteString() : c.dump);
        EXPECT_EQ(f.w->bDumpUnsaved, !completed);
        EXPECT_EQ(f.w->statusColour(), completed ? frmMain::kGreen : frmMain::kYellow);
        EXPECT_EQ(f.w->statusText(), "Received 256 bytes; Save");
        EXPECT_TRUE(c.dump.empty() || f.w->focusWidget() == f.w->cmdFocus);
    }
}

TEST(SaveCommand, AFailedWriteHarmsNoFileAndEndsLikeACompletedSave)
{
    QTemporaryDir dir;
    const ByteString old = message(40000, '\x7E');
    const QString ro = dir.filePath("ro"), full = dir.filePath("full"), isFolder = dir.filePath("a folder.syx");
    const Tmpfs roMount(ro, "size=1m"), fullMount(full, "size=64k");
    ASSERT_TRUE(writeFile(ro + "/old.syx", old) && writeFile(full + "/old.syx", old));
    ASSERT_TRUE(QDir().mkpath(isFolder) && writeFile(isFolder + "/inside.syx", old));
    struct Case {
        const char* name; QString path, watched, folder; rlim_t sizeLimit = RLIM_INFINITY;
    } cases[] = {
        {"read-only folder", ro + "/old.syx", ro + "/old.syx", ro},
        {"full file system", full + "/old.syx", full + "/old.syx", full},
        {"path is a folder", isFolder, isFolder + "/inside.syx", dir.path()},
    };
    EXPECT_TRUE(!roMount.mounted || roMount.makeReadOnly());
    if (!roMount.mounted)  // /proc refuses every new file, even root's; its listing changes by itself
        cases[0] = {"/proc", "/proc/version", "/proc/version", {}};
    if (!fullMount.mounted)
        cases[1].sizeLimit = 24576;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ByteString watchedBefore = fileBytes(c.watched);
        const QStringList folderBefore = listing(c.folder);
        Fixture win;
        win.receive();
        win.fake.dialog.willChoose(c.path);
        const FileSizeLimit limit(c.sizeLimit);  // writes only, until this case ends
        win.w->cmdSave_Click();
        EXPECT_EQ(fileBytes(c.watched), watchedBefore);
        EXPECT_EQ(listing(c.folder), folderBefore) << "no half-written or temporary file is left";
        EXPECT_TRUE(win.fake.boxes.boxes.empty() && win.MAIN.sSysexData.empty() && !win.w->bDumpUnsaved);
        EXPECT_EQ(win.w->statusColour(), frmMain::kGreen);
    }
}

TEST(OpenCommand, ReadsTheFileNamesItAndReopensTheOutput)
{
    enum Make { Written, Absent, Folder, OneGigabyte, OverTheLimit };
    const Log reopened{"out.DeviceID=0", "out.Command=1"}, filtered{"ShowOpenDialog", "in.Filter(249)=1",
        "in.Filter(176)=1", "in.Filter(192)=1", "in.Filter(254)=1", "in.Filter(248)=1"};
    const struct {
        const char* name; const char* file /* nullptr: cancelled */; Make make; bool folderEndsWithSeparator;
        ByteString content; std::int16_t outState; const char* storedOut; Log outLog;
    } cases[] = {
        {"every byte, folder without separator", kName, Written, false, kEveryByte, MIDIOutput::Closed, nullptr,
         reopened},
        {"folder with separator, output open", "a.syx", Written, true, "\x41\x42", MIDIOutput::Opened, " 2",
         {"out.DeviceID=2", "out.Command=2", "out.Command=1"}},
        {"empty file, output on the mapper", "a.syx", Written, false, {}, MIDIOutput::Closed, "-1",
         {"out.DeviceID=-1", "out.Command=2", "out.Command=1"}},
        {"file that does not exist", "absent.syx", Absent, false, {}, MIDIOutput::Closed, "junk", reopened},
        {"a folder", "folder.syx", Folder, false, {}, MIDIOutput::Closed, nullptr, reopened},
        {"1 GB file", "huge.syx", OneGigabyte, false, {}, MIDIOutput::Closed, nullptr, reopened},
        {"just too large to hold", "large.syx", OverTheLimit, false, {}, MIDIOutput::Closed, nullptr, reopened},
        {"dialog cancelled", nullptr, Absent, false, "held", MIDIOutput::Closed, nullptr, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        const QString folder = QDir(f.dir.path()).absolutePath();
        const QString name = QString::fromUtf8(c.file);
        QFile file(folder + '/' + name);
        const qint64 sparse = c.make == OneGigabyte ? qint64(1) << 30 : kMaxSyxFileSize + 1;  // costs no disk
        ASSERT_TRUE(c.make == Absent || (c.make == Written && writeFile(file.fileName(), c.content))
                    || (c.make == Folder && QDir().mkpath(file.fileName()))
                    || (c.make >= OneGigabyte && file.open(QIODevice::WriteOnly) && file.resize(sparse)));
        if (c.file)
            f.fake.dialog.answers.push_back({false, file.fileName(), folder + (c.folderEndsWithSeparator ? "/" : "")});
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
        EXPECT_EQ(f.w->statusText(), !c.file ? "before" : openStatus((c.folderEndsWithSeparator ? "" : "/") + name));
        EXPECT_EQ(f.w->statusColour(), frmMain::kYellow);
        Log expected = c.file ? filtered : Log{"ShowOpenDialog"};
        expected.insert(expected.end(), c.outLog.begin(), c.outLog.end());
        EXPECT_EQ(f.fake.log.entries(), expected);
        EXPECT_TRUE(!c.file || (f.out.state == MIDIOutput::Opened && f.w->focusWidget() == f.w->cmdFocus));
        EXPECT_TRUE(c.make < OneGigabyte || QFileInfo(file).size() == sparse);
    }
}

TEST(OpenCommand, AReadThatFailsGivesAsManyBlanksAsTheFileHasBytes)
{
    const struct { qint64 size, good; bool endEarly; std::size_t blanks; } cases[] = {
        {5000, 4096, false, 5000}, {5000, 1200, true, 5000}, {kMaxSyxFileSize + 1, kMaxSyxFileSize + 1, false, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.good);
        FailingFile file(c.size, c.good, c.endEarly);
        ByteString dump = "\xF0 held \xF7";
        EXPECT_FALSE(ReadSyxFile(file, dump));
        EXPECT_EQ(dump, ByteString(c.blanks, ' '));
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
    struct Case { Command command; int answer /* 0: nothing unsaved, nothing asked */; SaveDialog save; bool dumpAlreadyEmpty; };
    std::vector<Case> cases{{Quit, 0, NotShown, false}};
    for (const Command command : {Quit, Open, Receive})
        for (const Case c : {Case{command, Cancel, NotShown, false}, {command, No, NotShown, false},
                             {command, Yes, Saved, false}, {command, Yes, Cancelled, false}, {command, Yes, NotShown, true}})
            cases.push_back(c);
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.command << ' ' << c.answer << ' ' << c.save << ' ' << c.dumpAlreadyEmpty);
        const bool asked = c.answer != 0, goesOn = c.answer != Cancel;
        Fixture f;
        ASSERT_TRUE(writeFile(f.path("opened.syx"), opened));
        const ByteString before = c.dumpAlreadyEmpty ? ByteString() : received;
        f.MAIN.sSysexData = before;
        f.MAIN.lByteCount = static_cast<std::int32_t>(before.size());
        f.w->bDumpUnsaved = asked;
        f.fake.in.state = MIDIInput::Delivering;
        if (asked)
            f.fake.boxes.answers.push_back(c.answer);
        if (c.save != NotShown)
            c.save == Saved ? f.fake.dialog.willChoose(f.path("saved.syx")) : f.fake.dialog.willCancel();
        f.fake.dialog.willChoose(f.path("opened.syx"));
        QPushButton* button[] = {f.w->cmdQuit, f.w->cmdOpen, f.w->cmdReceive};
        button[c.command]->click();
        Log boxes = asked ? Log{std::string("MsgBox:") + prompts[c.command]} : Log{};
        if (c.dumpAlreadyEmpty)
            boxes.push_back("MsgBox:There's no GT-3 data to save.");
        EXPECT_EQ(f.fake.log.only("MsgBox:"), boxes);
        EXPECT_TRUE(!asked || (f.fake.boxes.boxes[0].style == MessageBoxes::vbYesNoCancelQuestion &&
                               f.fake.boxes.boxes[0].title == "Tandrel"));
        std::string dialogs;
        for (const auto& d : f.fake.dialog.shown)
            dialogs += d.saving ? 'S' : 'O';
        EXPECT_EQ(dialogs, std::string(c.save == NotShown ? "" : "S") + (c.command == Open && goesOn ? "O" : ""));
        EXPECT_EQ(fileBytes(f.path("saved.syx")), c.save == Saved ? received : "<missing>");
        EXPECT_EQ(f.w->bDumpUnsaved, asked && c.save != Saved);
        const ByteString after[] = {c.save == Saved ? ByteString() : before, opened, ByteString()};
        EXPECT_EQ(f.MAIN.sSysexData, goesOn ? after[c.command] : before);
        EXPECT_EQ(f.w->unloaded(), c.command == Quit && goesOn);
        EXPECT_EQ(f.fake.loop.ends, c.command == Quit && goesOn ? 1 : 0);
        EXPECT_TRUE(goesOn || (f.fake.log.only("in.").empty() && f.fake.log.only("out.").empty()));
        EXPECT_EQ(f.MAIN.lByteCount, c.command == Receive && goesOn ? 0 : static_cast<std::int32_t>(before.size()));
    }
}
