// SPDX-License-Identifier: GPL-3.0-or-later
// A corrupt settings file, or a settings folder that cannot be written, under the real main window.
#include "app/frmMain.h"
#include "platform/QtServices.h"
#include "platform/testing/FakeServices.h"
#include "setup/MIDISetupForm.h"
#include "setup/SettingsKeys.h"
#include "support/Helpers.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>
#include <optional>
#include <cstdio>

using namespace tandrel;
using namespace tandrel::testing;

TEST(SettingsFault, StartsWithTheDefaultsAndTellsOnceWhereItCouldNotSave)
{
    QTemporaryDir dir;
    const char text[] = "[User Settings\nMIDI%20Input%20Device%20ID=\"x\nUser Setup?=1\n\xff\xfe\0\0 2\n[[[\n=\n\\";
    const QByteArray broken(text, sizeof text - 1);
    for (bool readOnly : {false, true}) {
        SCOPED_TRACE(readOnly ? "read-only folder" : "writable folder");
        const QString folder = dir.filePath(QString::number(readOnly));
        QString ini = folder + QStringLiteral("/Tandrel.conf");
        std::optional<Tmpfs> tmpfs;
        if (!readOnly) {
            ASSERT_TRUE(writeBytes(ini, broken));
        } else if (!(tmpfs.emplace(folder, "size=1m").mounted && writeBytes(ini, broken) && tmpfs->makeReadOnly())) {
            std::printf("[ fault    ] cannot mount a tmpfs here: a folder below /proc instead\n");
            ini = QStringLiteral("/proc/Tandrel/Tandrel.conf");
        }
        const QByteArray before = readBytes(ini);
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
            EXPECT_EQ(readBytes(ini), before) << "what stood there is untouched";
        }
    }
}
