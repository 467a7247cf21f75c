// SPDX-License-Identifier: GPL-3.0-or-later
// A settings file that is corrupt, or a settings folder that cannot be written,
// on the real main window and setup dialog over a real QSettings file: the
// program starts with the defaults, the choices made in Setup hold for the run,
// and when they cannot be saved the user is told once, in a box naming the file.
//
// The read-only folder is a read-only tmpfs where the test may mount (CI runs as
// root); elsewhere a folder without write permission, or one below /proc, which
// no one may create.
#include "app/frmMain.h"
#include "platform/QtServices.h"
#include "platform/testing/FakeServices.h"
#include "setup/MIDISetupForm.h"
#include "setup/SettingsKeys.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <random>

using namespace tandrel;
using namespace tandrel::testing;

namespace {

//! A tmpfs holding `contents` as `name`, then made read-only; or the reason the
//! test may not mount.
class ReadOnlyTmpfs {
public:
    ReadOnlyTmpfs(const QString& where, const QString& name, const QByteArray& contents)
        : where_(QFile::encodeName(where))
    {
        QDir().mkpath(where);
        if (::mount("tmpfs", where_.constData(), "tmpfs", 0, "size=1m") != 0) {
            why_ = QString::fromLocal8Bit(std::strerror(errno));
            return;
        }
        mounted_ = true;
        QFile f(where + u'/' + name);
        if (!f.open(QIODevice::WriteOnly) || f.write(contents) != contents.size())
            why_ = QStringLiteral("cannot fill the tmpfs");
        f.close();
        if (::mount(nullptr, where_.constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0)
            why_ = QString::fromLocal8Bit(std::strerror(errno));
    }
    ~ReadOnlyTmpfs()
    {
        if (mounted_)
            ::umount2(where_.constData(), MNT_DETACH);
    }
    ReadOnlyTmpfs(const ReadOnlyTmpfs&) = delete;
    ReadOnlyTmpfs& operator=(const ReadOnlyTmpfs&) = delete;

    bool ok() const { return mounted_ && why_.isEmpty(); }
    QString why() const { return why_; }

private:
    QByteArray where_;
    bool mounted_ = false;
    QString why_;
};

QByteArray randomBytes(std::size_t n, unsigned seed)
{
    std::mt19937 gen(seed);
    QByteArray b;
    for (std::size_t i = 0; i < n; ++i)
        b.append(static_cast<char>(gen() & 0xFF));
    return b;
}

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

//! The main window over doubled ports and dialogs and a real settings file; Set
//! is pressed whenever the setup dialog shows.
struct Window {
    explicit Window(const QString& ini) : store(ini) {}

    void pressSetWhenSetupShows()
    {
        QTimer::singleShot(0, [this] {
            if (w->setupForm() && w->setupForm()->isVisible()) {
                ++setupShown;
                w->setupForm()->cmdSet_Click();
            }
        });
    }

    FakeServices fake;
    QSettingsStore store;
    Services services{fake.in, fake.out, fake.dialog, fake.boxes, store, fake.folders, fake.beeper, fake.loop};
    DumpState MAIN;
    std::unique_ptr<frmMain> w = std::make_unique<frmMain>(services, MAIN);
    int setupShown = 0;
};

}  // namespace

TEST(SettingsFault, StartsWithTheDefaultsAndTellsOnceWhereItCouldNotSave)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray garbage = randomBytes(4096, 7);
    const char broken[] = "[User Settings\nMIDI%20Input%20Device%20ID=\"x\nUser Setup?=1\n\xff\xfe\0\0 2\n[[[\n=\n\\";
    const QByteArray brokenLines(broken, sizeof broken - 1);

    struct Case {
        const char* name;
        //! Makes the settings file; returns its path, or empty when the case
        //! cannot be made here (with the reason in `why`).
        std::function<QString(std::unique_ptr<ReadOnlyTmpfs>&, QString& why)> prepare;
        bool canSave;
    } cases[] = {
        {"random bytes, writable folder",
         [&](auto&, QString&) {
             const QString ini = dir.filePath(QStringLiteral("garbage/Tandrel.conf"));
             QDir().mkpath(QFileInfo(ini).absolutePath());
             QFile f(ini);
             EXPECT_TRUE(f.open(QIODevice::WriteOnly) && f.write(garbage) == garbage.size());
             return ini;
         },
         true},
        {"broken lines and NULs, writable folder",
         [&](auto&, QString&) {
             const QString ini = dir.filePath(QStringLiteral("broken/Tandrel.conf"));
             QDir().mkpath(QFileInfo(ini).absolutePath());
             QFile f(ini);
             EXPECT_TRUE(f.open(QIODevice::WriteOnly) && f.write(brokenLines) == brokenLines.size());
             return ini;
         },
         true},
        {"random bytes in a read-only folder",
         [&](std::unique_ptr<ReadOnlyTmpfs>& mount, QString& why) {
             const QString folder = dir.filePath(QStringLiteral("ro"));
             mount = std::make_unique<ReadOnlyTmpfs>(folder, QStringLiteral("Tandrel.conf"), garbage);
             if (mount->ok())
                 return folder + QStringLiteral("/Tandrel.conf");
             if (::geteuid() != 0) {
                 QDir().mkpath(folder);
                 QFile f(folder + QStringLiteral("/Tandrel.conf"));
                 EXPECT_TRUE(f.open(QIODevice::WriteOnly) && f.write(garbage) == garbage.size());
                 f.close();
                 QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
                 why = QStringLiteral("no tmpfs (") + mount->why() + QStringLiteral("): folder without write permission");
                 return folder + QStringLiteral("/Tandrel.conf");
             }
             why = QStringLiteral("no tmpfs (") + mount->why() + QStringLiteral("): a folder below /proc");
             return QStringLiteral("/proc/Tandrel/Tandrel.conf");
         },
         false},
        {"folder that cannot be made (a file stands in its place)",
         [&](auto&, QString&) {
             QFile f(dir.filePath(QStringLiteral("config")));
             EXPECT_TRUE(f.open(QIODevice::WriteOnly));
             return dir.filePath(QStringLiteral("config/Tandrel/Tandrel.conf"));
         },
         false},
    };

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<ReadOnlyTmpfs> mount;
        QString why;
        const QString ini = c.prepare(mount, why);
        if (!why.isEmpty())
            std::printf("[ fault    ] %s: %s\n", c.name, qPrintable(why));
        const QByteArray before = fileBytes(ini);

        Window win(ini);
        win.pressSetWhenSetupShows();
        win.w->Form_Load();

        // Nothing usable was stored: a first run, on device 0 and the program's folder.
        EXPECT_EQ(win.setupShown, 1);
        EXPECT_EQ(win.fake.in.deviceID, 0);
        EXPECT_EQ(win.fake.out.deviceID, 0);
        EXPECT_EQ(win.MAIN.sUserFolder, settings::ExecutableFolder());
        EXPECT_EQ(win.w->statusText(), QStringLiteral("Ready to Receive or Open"));
        // The choice holds for this run whether or not it reached the disk.
        EXPECT_EQ(win.store.read(settings::kUserSetup, QStringLiteral("0")), QStringLiteral("1"));

        // A second visit to Setup, and Set again.
        win.pressSetWhenSetupShows();
        win.w->cmdSetup_Click();
        EXPECT_EQ(win.setupShown, 2);

        if (c.canSave) {
            EXPECT_TRUE(win.fake.boxes.boxes.empty());
            EXPECT_EQ(QSettingsStore(ini).read(settings::kUserSetup, QStringLiteral("0")), QStringLiteral("1"))
                << "the corrupt file was replaced by a good one";
        } else {
            ASSERT_EQ(win.fake.boxes.boxes.size(), 1u) << "told once per run";
            EXPECT_EQ(win.fake.boxes.boxes[0].title, QStringLiteral("Tandrel"));
            EXPECT_EQ(win.fake.boxes.boxes[0].style, MessageBoxes::vbOKOnly);
            EXPECT_TRUE(win.fake.boxes.boxes[0].prompt.contains(ini)) << win.fake.boxes.boxes[0].prompt.toStdString();
            EXPECT_EQ(fileBytes(ini), before) << "what stood there is untouched";
        }
    }
}
