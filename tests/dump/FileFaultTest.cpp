// SPDX-License-Identifier: GPL-3.0-or-later
// Save and Open meeting a hostile file system, on the real main window with real
// files. Whatever happens, the file that stood before is intact, nothing is left
// behind, no box appears, and the window ends as a completed Save or Open leaves it.
// Real tmpfs mounts where the test may mount; otherwise stand-ins, printed.
#include "dump/DumpWindow.h"
#include "dump/SyxFile.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

using namespace tandrel;
using namespace tandrel::testing;

namespace {

//! A tmpfs mounted for the life of the object, or the reason it could not be.
struct Tmpfs {
    Tmpfs(const QString& path, const char* options) : where(QFile::encodeName(path))
    {
        QDir().mkpath(path);
        mounted = ::mount("tmpfs", where.constData(), "tmpfs", 0, options) == 0;
        why = mounted ? "" : std::strerror(errno);
    }
    ~Tmpfs()
    {
        if (mounted)
            ::umount2(where.constData(), MNT_DETACH);
    }
    bool makeReadOnly() const { return ::mount(nullptr, where.constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0; }
    QByteArray where;
    bool mounted;
    const char* why;
};

//! Lowers the file size limit for its life, so a write beyond it fails as a full disk would.
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

QStringList listing(const QString& folder)
{
    return folder.isEmpty() ? QStringList()
                            : QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

//! The window holding a received 60000-byte dump that has not been saved.
struct Window : DumpWindow {
    Window() { fake.in.deliver({message(20000, '\x11'), message(20000, '\x22'), message(20000, '\x33')}); }
};

QString openedText(const QString& path)
{
    return " /" + QFileInfo(path).fileName() + " open\r  Set GT-3 to receive; click Send to transmit.";
}

}  // namespace

TEST(SaveFault, AFailedWriteHarmsNoFileAndEndsLikeACompletedSave)
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
    if (roMount.mounted) {
        EXPECT_TRUE(roMount.makeReadOnly());
    } else if (::geteuid() != 0) {
        QFile::setPermissions(ro, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    } else {  // root that may not mount: /proc refuses every new file; its listing changes by itself
        std::printf("[ fault    ] read-only folder: /proc stands in (no mount: %s)\n", roMount.why);
        cases[0] = {"/proc", "/proc/version", "/proc/version", {}};
    }
    if (!fullMount.mounted) {
        std::printf("[ fault    ] full file system: RLIMIT_FSIZE stands in (no mount: %s)\n", fullMount.why);
        cases[1].sizeLimit = 24576;
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ByteString watchedBefore = fileBytes(c.watched);
        const QStringList folderBefore = listing(c.folder);
        Window win;
        win.fake.dialog.willChoose(c.path);
        {
            const FileSizeLimit limit(c.sizeLimit);
            win.w->cmdSave_Click();
        }
        EXPECT_EQ(fileBytes(c.watched), watchedBefore);
        EXPECT_EQ(listing(c.folder), folderBefore) << "no half-written or temporary file is left";
        EXPECT_TRUE(win.fake.boxes.boxes.empty());
        EXPECT_TRUE(win.MAIN.sSysexData.empty());
        EXPECT_FALSE(win.w->bDumpUnsaved);
        EXPECT_EQ(win.w->statusColour(), frmMain::kGreen);
        EXPECT_EQ(win.w->statusText(), "Received 60000 bytes; Save");
    }
}

TEST(SaveFault, NamesWithBlanksAndNonAsciiLettersSaveAndOpenByteForByte)
{
    QTemporaryDir dir;
    for (const char* name : {"Klänge für Bühne/Größe äöü ß.syx", "日本語 ダンプ/O'Brien & \"co\" #1 🎸.syx",
                             "e\u0301 combining and \u00e9 precomposed.syx"}) {
        SCOPED_TRACE(name);
        const QString path = dir.filePath(QString::fromUtf8(name));
        QDir().mkpath(QFileInfo(path).absolutePath());
        Window win;
        const ByteString received = win.MAIN.sSysexData;
        win.fake.dialog.willChoose(path);
        win.fake.dialog.willChoose(path);
        win.w->cmdSave_Click();
        EXPECT_EQ(::access(path.toUtf8().constData(), F_OK), 0);  // UTF-8 on disk, whatever the locale
        EXPECT_EQ(fileBytes(path), received);
        win.w->cmdOpen_Click();
        EXPECT_EQ(win.MAIN.sSysexData, received);
        EXPECT_EQ(win.w->statusText(), openedText(path));
    }
}

TEST(OpenFault, AFileThatCannotBeHeldOrReadLeavesAnEmptyDumpAndTheOpenGoesOn)
{
    QTemporaryDir dir;
    const auto sparse = [&](const char* name, qint64 size) {  // costs no disk
        QFile f(dir.filePath(name));
        return f.open(QIODevice::WriteOnly) && f.resize(size) ? f.fileName() : QString();
    };
    const QString huge = sparse("one gigabyte.syx", qint64(1) << 30), justOver = sparse("just over.syx", kMaxSyxFileSize + 1);
    ASSERT_FALSE(huge.isEmpty() || justOver.isEmpty());
    const QString folder = dir.filePath("a folder.syx");
    QDir().mkpath(folder);
    const QStringList before = listing(dir.path());
    for (const QString& path : {huge, justOver, folder}) {
        SCOPED_TRACE(path.toStdString());
        Window win;
        win.fake.boxes.answers.push_back(MessageBoxes::vbNo);  // do not save the received dump first
        win.fake.dialog.willChoose(path);
        win.w->cmdOpen_Click();
        EXPECT_TRUE(win.MAIN.sSysexData.empty());
        EXPECT_EQ(win.w->statusText(), openedText(path));
        EXPECT_EQ(win.out.state, MIDIOutput::Opened);
        EXPECT_EQ(win.fake.boxes.boxes.size(), 1u) << "only the save-first prompt";
    }
    EXPECT_EQ(listing(dir.path()), before);
    EXPECT_EQ(QFileInfo(huge).size(), qint64(1) << 30);
}

namespace {

//! A file of `size` bytes whose reads give `good` bytes and then fail (or, with
//! `endEarly`, end as if the file had shrunk).
struct FailingFile : QIODevice {
    FailingFile(qint64 size, qint64 good, bool endEarly) : size_(size), good_(good), endEarly_(endEarly)
    {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    qint64 size() const override { return size_; }
    qint64 readData(char* data, qint64 max) override
    {
        const qint64 n = std::min(max, good_ - given_);
        if (n <= 0)
            return endEarly_ ? 0 : -1;
        std::fill(data, data + n, '\xF7');
        given_ += n;
        return n;
    }
    qint64 writeData(const char*, qint64) override { return -1; }
    qint64 size_, good_, given_ = 0;
    bool endEarly_;
};

}  // namespace

TEST(OpenFault, AReadThatFailsGivesAsManyBlanksAsTheFileHasBytes)
{
    const struct {
        qint64 size, good; bool endEarly; std::size_t blanks;
    } cases[] = {{5000, 4096, false, 5000}, {5000, 1200, true, 5000}, {kMaxSyxFileSize + 1, kMaxSyxFileSize + 1, false, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.good);
        FailingFile file(c.size, c.good, c.endEarly);
        ByteString dump = "\xF0 held \xF7";
        EXPECT_FALSE(ReadSyxFile(file, dump));
        EXPECT_EQ(dump, ByteString(c.blanks, ' '));
    }
}
