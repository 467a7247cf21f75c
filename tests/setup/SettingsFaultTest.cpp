// SPDX-License-Identifier: GPL-3.0-or-later
// A corrupt settings file, or a settings folder that cannot be written, under the real main window.
#include "app/frmMain.h"
#include "platform/QtServices.h"
#include "platform/testing/FakeServices.h"
#include "setup/MIDISetupForm.h"
#include "setup/SettingsKeys.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <cstdio>

using namespace tandrel;
using namespace tandrel::testing;

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

//! A tmpfs over `folder`, made read-only once `bytes` stand in it as Tandrel.conf.
struct ReadOnlyTmpfs {
    QByteArray where;
    bool mounted = false;
    ~ReadOnlyTmpfs()
    {
        if (mounted) ::umount2(where.constData(), MNT_DETACH);
    }
    bool make(const QString& folder, const QByteArray& bytes)
    {
        where = QFile::encodeName(folder);
        QDir().mkpath(folder);
        mounted = ::mount("tmpfs", where.constData(), "tmpfs", 0, "size=1m") == 0;
        return mounted && writeFile(folder + QStringLiteral("/Tandrel.conf"), bytes)
               && ::mount(nullptr, where.constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    }
};

TEST(SettingsFault, StartsWithTheDefaultsAndTellsOnceWhereItCouldNotSave)
{
    QTemporaryDir dir;
    const char text[] = "[User Settings\nMIDI%20Input%20Device%20ID=\"x\nUser Setup?=1\n\xff\xfe\0\0 2\n[[[\n=\n\\";
    const QByteArray broken(text, sizeof text - 1);
    for (bool readOnly : {false, true}) {
        SCOPED_TRACE(readOnly ? "read-only folder" : "writable folder");
        const QString folder = dir.filePath(QString::number(readOnly));
        QString ini = folder + QStringLiteral("/Tandrel.conf");
        ReadOnlyTmpfs tmpfs;
        if (!readOnly) {
            ASSERT_TRUE(writeFile(ini, broken));
        } else if (!tmpfs.make(folder, broken)) {
            std::printf("[ fault    ] cannot mount a tmpfs here: a folder below /proc instead\n");
            ini = QStringLiteral("/proc/Tandrel/Tandrel.conf");
        }
        const QByteArray before = fileBytes(ini);
        FakeServices fake;
        QSettingsStore store(ini);
        Services services{fake.in, fake.out, fake.dialog, fake.boxes, store, fake.folders, fake.beeper, fake.loop};
        DumpState MAIN;
        frmMain w(services, MAIN);
        int setupShown = 0;
        for (auto step : {&frmMain::Form_Load, &frmMain::cmdSetup_Click}) {  // a first run, then Setup again
            QTimer::singleShot(0, [&] {
                if (w.setupForm() && w.setupForm()->isVisible()) {
                    ++setupShown;
                    w.setupForm()->cmdSet_Click();
                }
            });
            (w.*step)();
        }
        EXPECT_EQ(setupShown, 2);
        EXPECT_EQ(fake.in.deviceID, 0);
        EXPECT_EQ(fake.out.deviceID, 0);
        EXPECT_EQ(MAIN.sUserFolder, settings::ExecutableFolder());
        EXPECT_EQ(store.read(settings::kUserSetup, {}), "1") << "the choice holds for this run";
        if (!readOnly) {
            EXPECT_TRUE(fake.boxes.boxes.empty());
            const QSettings replaced(ini, QSettings::IniFormat);
            EXPECT_EQ(replaced.value(QStringLiteral("User Settings/User Setup?")).toString(), "1");
        } else {
            ASSERT_EQ(fake.boxes.boxes.size(), 1u) << "told once per run";
            EXPECT_TRUE(fake.boxes.boxes[0].prompt.contains(ini)) << fake.boxes.boxes[0].prompt.toStdString();
            EXPECT_EQ(fileBytes(ini), before) << "what stood there is untouched";
        }
    }
}
