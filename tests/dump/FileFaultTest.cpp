// SPDX-License-Identifier: GPL-3.0-or-later
// Save and Open meeting a hostile file system, on the real main window with real
// files: read-only and full file systems, a path that is a folder, names with
// blanks and non-ASCII letters, a 1 GB file and a read that fails. Whatever
// happens, the file that stood before is intact, nothing is left behind, no box
// appears, and the window ends exactly as a completed Save or Open leaves it.
//
// The read-only and full file systems are real tmpfs mounts where the test may
// mount (CI runs as root); elsewhere a non-root user's read-only folder, or the
// read-only /proc, stands in, and the kernel's file size limit (RLIMIT_FSIZE)
// fails the write part-way as a full disk would.
#include "app/frmMain.h"
#include "dump/SyxFile.h"
#include "platform/testing/FakeServices.h"
#include "setup/SettingsKeys.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
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
#include <functional>
#include <memory>

using namespace tandrel;
using namespace tandrel::testing;

namespace {

const QString kReceived = QStringLiteral("Received 60000 bytes; Save");

//! A tmpfs mounted for the life of the object, or the reason it could not be.
class Tmpfs {
public:
    Tmpfs(const QString& where, const char* options) : where_(QFile::encodeName(where))
    {
        QDir().mkpath(where);
        if (::mount("tmpfs", where_.constData(), "tmpfs", 0, options) != 0)
            why_ = QString::fromLocal8Bit(std::strerror(errno));
        else
            mounted_ = true;
    }
    ~Tmpfs()
    {
        if (mounted_)
            ::umount2(where_.constData(), MNT_DETACH);
    }
    Tmpfs(const Tmpfs&) = delete;
    Tmpfs& operator=(const Tmpfs&) = delete;

    bool mounted() const { return mounted_; }
    QString why() const { return why_; }
    bool makeReadOnly() const
    {
        return ::mount(nullptr, where_.constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    }

private:
    QByteArray where_;
    bool mounted_ = false;
    QString why_;
};

//! Lowers the file size limit for its life, so a write beyond it fails.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        std::signal(SIGXFSZ, SIG_IGN);  // the write fails with EFBIG instead of ending the process
        ::getrlimit(RLIMIT_FSIZE, &old_);
        rlimit lowered = old_;
        lowered.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit() { ::setrlimit(RLIMIT_FSIZE, &old_); }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit old_{};
};

ByteString fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : "<missing>";
}

void writeFile(const QString& path, const ByteString& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
    ASSERT_EQ(f.write(bytes.data(), static_cast<qint64>(bytes.size())), static_cast<qint64>(bytes.size()));
}

QStringList listing(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

ByteString message(std::size_t length, char fill)
{
    ByteString m(length, fill);
    m.front() = '\xF0';
    m.back() = '\xF7';
    return m;
}

//! The main window over doubled ports and dialogs, holding a received 60000-byte
//! dump that has not been saved.
struct Window {
    FakeServices fake;
    DumpState MAIN;
    std::unique_ptr<frmMain> w;
    ByteString received;

    Window()
    {
        fake.settings.values[settings::kUserSetup] = QStringLiteral("1");
        w = std::make_unique<frmMain>(fake.services, MAIN);
        w->Form_Load();
        for (const char fill : {'\x11', '\x22', '\x33'})
            received += message(20000, fill);
        fake.in.deliver({received.substr(0, 20000), received.substr(20000, 20000), received.substr(40000)});
        fake.log.clear();
    }
};

//! Where a save is tried, and what stood there before.
struct Target {
    QString path;     //!< what the user picks in the save dialog
    QString watched;  //!< a file that must come through unchanged
    QString folder;   //!< a folder whose listing must not change
    QString note;     //!< how the fault was made here
    rlim_t sizeLimit = RLIM_INFINITY;  //!< the file size limit while saving
};

}  // namespace

TEST(SaveFault, AFailedWriteHarmsNoFileAndEndsLikeACompletedSave)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const ByteString old = message(40000, '\x7E');

    struct Case {
        const char* name;
        std::function<Target(std::unique_ptr<Tmpfs>&)> prepare;
    } cases[] = {
        {"read-only folder",
         [&](std::unique_ptr<Tmpfs>& mount) {
             const QString folder = dir.filePath(QStringLiteral("ro"));
             mount = std::make_unique<Tmpfs>(folder, "size=1m");
             if (mount->mounted()) {
                 writeFile(folder + QStringLiteral("/old.syx"), old);
                 EXPECT_TRUE(mount->makeReadOnly());
                 return Target{folder + QStringLiteral("/old.syx"), folder + QStringLiteral("/old.syx"), folder,
                               QStringLiteral("read-only tmpfs")};
             }
             if (::geteuid() != 0) {
                 writeFile(folder + QStringLiteral("/old.syx"), old);
                 QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
                 return Target{folder + QStringLiteral("/old.syx"), folder + QStringLiteral("/old.syx"), folder,
                               QStringLiteral("folder without write permission")};
             }
             // Root that may not mount: /proc refuses every new file, even root's.
             // Its listing changes by itself, so only the file is watched.
             return Target{QStringLiteral("/proc/version"), QStringLiteral("/proc/version"), QString(),
                           QStringLiteral("/proc (no mount: ") + mount->why() + u')'};
         }},
        {"full file system",
         [&](std::unique_ptr<Tmpfs>& mount) {
             const QString folder = dir.filePath(QStringLiteral("full"));
             mount = std::make_unique<Tmpfs>(folder, "size=64k");
             if (!mount->mounted())
                 QDir().mkpath(folder);
             writeFile(folder + QStringLiteral("/old.syx"), old);
             if (mount->mounted())
                 return Target{folder + QStringLiteral("/old.syx"), folder + QStringLiteral("/old.syx"), folder,
                               QStringLiteral("64 KiB tmpfs")};
             // The disk fills up part-way through the write all the same.
             return Target{folder + QStringLiteral("/old.syx"), folder + QStringLiteral("/old.syx"), folder,
                           QStringLiteral("no tmpfs (") + mount->why() + QStringLiteral("): RLIMIT_FSIZE 24576"),
                           24576};
         }},
        {"write cut off part-way by the file size limit",
         [&](std::unique_ptr<Tmpfs>&) {
             const QString folder = dir.filePath(QStringLiteral("limited"));
             QDir().mkpath(folder);
             writeFile(folder + QStringLiteral("/old.syx"), old);
             return Target{folder + QStringLiteral("/old.syx"), folder + QStringLiteral("/old.syx"), folder,
                           QStringLiteral("RLIMIT_FSIZE 4096"), 4096};
         }},
        {"path is a folder",
         [&](std::unique_ptr<Tmpfs>&) {
             const QString folder = dir.filePath(QStringLiteral("looks like a file.syx"));
             QDir().mkpath(folder);
             writeFile(folder + QStringLiteral("/inside.syx"), old);
             return Target{folder, folder + QStringLiteral("/inside.syx"), dir.path(), {}};
         }},
        {"folder that does not exist",
         [&](std::unique_ptr<Tmpfs>&) {
             writeFile(dir.filePath(QStringLiteral("beside.syx")), old);
             return Target{dir.filePath(QStringLiteral("gone/new.syx")), dir.filePath(QStringLiteral("beside.syx")),
                           dir.path(), {}};
         }},
        {"path below a file",
         [&](std::unique_ptr<Tmpfs>&) {
             writeFile(dir.filePath(QStringLiteral("plain.syx")), old);
             return Target{dir.filePath(QStringLiteral("plain.syx/new.syx")), dir.filePath(QStringLiteral("plain.syx")),
                           dir.path(), {}};
         }},
    };

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<Tmpfs> mount;
        const Target t = c.prepare(mount);
        if (!t.note.isEmpty())
            std::printf("[ fault    ] %s: %s\n", c.name, qPrintable(t.note));
        const ByteString watchedBefore = fileBytes(t.watched);
        const QStringList folderBefore = t.folder.isEmpty() ? QStringList() : listing(t.folder);

        Window win;
        win.fake.dialog.willChoose(t.path);
        {
            const FileSizeLimit limit(t.sizeLimit);
            win.w->cmdSave_Click();
        }

        EXPECT_EQ(fileBytes(t.watched), watchedBefore) << "the file that stood there is intact";
        if (!t.folder.isEmpty()) {
            EXPECT_EQ(listing(t.folder), folderBefore) << "no half-written or temporary file is left";
        }
        EXPECT_TRUE(win.fake.boxes.boxes.empty()) << "a failed save says nothing";
        EXPECT_TRUE(win.MAIN.sSysexData.empty());
        EXPECT_FALSE(win.w->bDumpUnsaved);
        EXPECT_EQ(win.w->statusColour(), frmMain::kGreen);
        EXPECT_EQ(win.w->statusText(), kReceived);
    }
}

TEST(SaveFault, NamesWithBlanksAndNonAsciiLettersSaveAndOpenByteForByte)
{
    QTemporaryDir dir;
    const QString names[] = {
        QStringLiteral("GT-3 Patches/My Lead Sound.syx"),
        QStringLiteral("Klänge für Bühne/Größe äöü ß.syx"),
        QStringLiteral("日本語 ダンプ/音色 一.syx"),
        QStringLiteral("  leading and trailing  .syx"),
        QStringLiteral("O'Brien & \"co\" #1 (final) 🎸.syx"),
        QStringLiteral("e\u0301 combining and \u00e9 precomposed.syx"),
    };
    for (const QString& name : names) {
        SCOPED_TRACE(name.toStdString());
        const QString path = dir.filePath(name);
        QDir().mkpath(QFileInfo(path).absolutePath());

        Window win;
        win.fake.dialog.willChoose(path);
        win.w->cmdSave_Click();
        // The name on disk is the name's UTF-8 bytes, whatever the locale.
        EXPECT_EQ(::access(path.toUtf8().constData(), F_OK), 0);
        EXPECT_EQ(fileBytes(path), win.received);

        win.fake.dialog.willChoose(path);
        win.w->cmdOpen_Click();
        EXPECT_EQ(win.MAIN.sSysexData, win.received);
        EXPECT_EQ(win.w->statusText(), QStringLiteral(" /") + QFileInfo(path).fileName()
                                           + QStringLiteral(" open\r  Set GT-3 to receive; click Send to transmit."));
        EXPECT_TRUE(win.fake.boxes.boxes.empty());
    }
}

TEST(OpenFault, AFileThatCannotBeHeldOrReadLeavesAnEmptyDumpAndTheOpenGoesOn)
{
    QTemporaryDir dir;
    const QString huge = dir.filePath(QStringLiteral("one gigabyte.syx"));
    {
        QFile f(huge);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_TRUE(f.resize(qint64(1) << 30));  // sparse: costs no disk
    }
    const QString justOver = dir.filePath(QStringLiteral("just over the limit.syx"));
    {
        QFile f(justOver);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_TRUE(f.resize(kMaxSyxFileSize + 1));
    }
    const QString folder = dir.filePath(QStringLiteral("a folder.syx"));
    QDir().mkpath(folder);

    for (const QString& path : {huge, justOver, folder, dir.filePath(QStringLiteral("missing.syx"))}) {
        SCOPED_TRACE(path.toStdString());
        const QStringList before = listing(dir.path());
        Window win;
        win.fake.boxes.answers.push_back(MessageBoxes::vbNo);  // do not save the received dump first
        win.fake.dialog.willChoose(path);
        win.w->cmdOpen_Click();
        EXPECT_TRUE(win.MAIN.sSysexData.empty()) << "nothing of the held dump or the file is kept";
        EXPECT_EQ(win.w->statusText(), QStringLiteral(" /") + QFileInfo(path).fileName()
                                           + QStringLiteral(" open\r  Set GT-3 to receive; click Send to transmit."));
        EXPECT_EQ(win.fake.out.state, MIDIOutput::Opened);
        EXPECT_EQ(win.fake.boxes.boxes.size(), 1u) << "only the save-first prompt";
        EXPECT_EQ(listing(dir.path()), before);
    }
    EXPECT_EQ(QFileInfo(huge).size(), qint64(1) << 30);
}

namespace {

//! A file of `size` bytes whose reads give `good` bytes and then fail (or, with
//! `endEarly`, end as if the file had shrunk).
class FailingFile : public QIODevice {
public:
    FailingFile(qint64 size, qint64 good, bool endEarly) : size_(size), good_(good), endEarly_(endEarly)
    {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    qint64 size() const override { return size_; }

protected:
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

private:
    qint64 size_, good_, given_ = 0;
    bool endEarly_;
};

}  // namespace

TEST(OpenFault, AReadThatFailsGivesAsManyBlanksAsTheFileHasBytes)
{
    struct Case {
        const char* name;
        qint64 size, good;
        bool endEarly;
    } cases[] = {
        {"fails at once", 5000, 0, false},
        {"fails part-way", 5000, 4096, false},
        {"fails on the last byte", 5000, 4999, false},
        {"ends early", 5000, 1200, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FailingFile file(c.size, c.good, c.endEarly);
        ByteString dump = "\xF0 held \xF7";
        EXPECT_FALSE(ReadSyxFile(file, dump));
        EXPECT_EQ(dump, ByteString(static_cast<std::size_t>(c.size), ' '));
    }
    FailingFile tooBig(kMaxSyxFileSize + 1, kMaxSyxFileSize + 1, false);
    ByteString dump = "\xF0 held \xF7";
    EXPECT_FALSE(ReadSyxFile(tooBig, dump));
    EXPECT_TRUE(dump.empty());
}
