// SPDX-License-Identifier: GPL-3.0-or-later
// The verdict lamp in each state and the details window, photographed on a private
// X server and looked at here. This program runs itself again on that server to show
// the real main window over doubled services, and photographs it from outside with
// ImageMagick's import. The pictures stay in the build folder, under
// tests/app/screenshots/, for a person to look at too.
#include "Dt1.h"
#include "app/DumpDetailsWindow.h"
#include "app/VerdictLamp.h"
#include "dump/DumpWindow.h"
#include "support/Helpers.h"
#include "support/LampColour.h"
#include "support/PrivateDisplay.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QImage>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace tandrel;
using namespace tandrel::testing;

namespace {

void photograph(QWidget& w, const QString& file)
{
    runEventsFor(std::chrono::milliseconds(400));
    const QString screen = file + ".screen.png";
    ASSERT_EQ(QProcess::execute("import", {"-window", "root", screen}), 0);
    ASSERT_TRUE(QImage(screen).copy(w.frameGeometry()).save(file));
    QFile::remove(screen);
}

//! The run on the X server: the window with each lamp state, then the details window
//! of a damaged dump, as PNGs in `folder`.
void showAndPhotograph(const QString& folder)
{
    QTemporaryDir files;
    std::string error;
    const gt3sim::Bytes patches = gt3sim::generateDump(3 * 916, 0, 0x10, 1, &error);  // three patches, twelve messages
    const ByteString good(patches.begin(), patches.end());
    ByteString damaged = good;
    damaged[300] ^= 0x02;
    damaged[2000] ^= 0x10;
    const std::pair<const char*, ByteString> states[] = {
        {"dark", {}}, {"green", good}, {"amber", good + ByteString("\xF0\x43\x00\x09\xF7", 5)}, {"red", damaged}};
    DumpWindow window;
    frmMain& w = *window.w;
    w.move(40, 40);
    w.show();
    for (const auto& [name, dump] : states) {
        if (!dump.empty()) {
            const QString path = files.filePath(QString::fromLatin1(name) + ".syx");
            ASSERT_TRUE(writeFile(path, dump));
            window.fake.dialog.willChoose(path);
            w.cmdOpen->click();
        }
        ASSERT_NO_FATAL_FAILURE(photograph(w, folder + "/lamp-" + name + ".png"));
    }
    w.lampVerdict->click();
    DumpDetailsWindow* details = w.lampVerdict->detailsWindow();
    ASSERT_NE(details, nullptr);
    details->move(60, 100);
    ASSERT_NO_FATAL_FAILURE(photograph(*details, folder + "/details.png"));
    details->chkProblemsOnly->setChecked(true);
    photograph(*details, folder + "/details-problems-only.png");
}

//! Rows of the table tinted as damaged: count of pixel rows mostly in the pink.
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

TEST(VerdictScreens, EachLampStateAndTheDetailsWindowOnARealXServer)
{
    if (const QString folder = qEnvironmentVariable("TANDREL_PHOTOGRAPH_INTO"); !folder.isEmpty())
        return showAndPhotograph(folder);
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
    // Two damaged messages among twelve: their rows are tinted, in both views.
    const int all = pinkLines(details), only = pinkLines(problems);
    EXPECT_GT(all, 20) << "no damaged rows marked";
    EXPECT_EQ(only, all) << "the filter lost a damaged row";
}

}  // namespace
