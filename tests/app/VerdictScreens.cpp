// SPDX-License-Identifier: GPL-3.0-or-later
// Shows the real main window over doubled services on the X server in DISPLAY and
// photographs it from outside with ImageMagick's import: once in each lamp state,
// then the details window of a damaged dump. The PNGs go to the folder given.
// app_VerdictScreenshotTest runs this on a private Xvfb and looks at the pictures.
#include "Dt1.h"
#include "app/DumpDetailsWindow.h"
#include "app/VerdictLamp.h"
#include "dump/DumpWindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>

#include <cstdio>

using namespace tandrel;
using namespace tandrel::testing;

namespace {

void settle(int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
}

bool photograph(QWidget& w, const QString& file)
{
    settle(400);
    const QString screen = file + ".screen.png";
    if (QProcess::execute("import", {"-window", "root", screen}) != 0)
        return false;
    const QImage shot = QImage(screen).copy(w.frameGeometry());
    QFile::remove(screen);
    std::printf("screenshot: %s\n", qPrintable(file));
    return shot.save(file);
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    QTemporaryDir files;
    std::string error;
    const gt3sim::Bytes patches = gt3sim::generateDump(3 * 916, 0, 0x10, 1, &error);  // three patches, twelve messages
    const ByteString good(patches.begin(), patches.end());
    ByteString damaged = good;
    damaged[300] ^= 0x02;
    damaged[2000] ^= 0x10;
    const struct {
        const char* name;
        ByteString dump;
    } states[] = {{"lamp-dark", {}},
                  {"lamp-green", good},
                  {"lamp-amber", good + ByteString("\xF0\x43\x00\x09\xF7", 5)},
                  {"lamp-red", damaged}};

    DumpWindow window;
    frmMain& w = *window.w;
    w.move(40, 40);
    w.show();
    for (const auto& s : states) {
        if (!s.dump.empty()) {
            const QString path = files.filePath(QString::fromLatin1(s.name) + ".syx");
            if (!writeFile(path, s.dump))
                return 1;
            window.fake.dialog.willChoose(path);
            w.cmdOpen->click();
        }
        if (!photograph(w, out.filePath(QString::fromLatin1(s.name) + ".png")))
            return 1;
    }
    w.lampVerdict->click();
    DumpDetailsWindow* details = w.lampVerdict->detailsWindow();
    if (!details)
        return 1;
    details->move(60, 100);
    if (!photograph(*details, out.filePath("details.png")))
        return 1;
    details->chkProblemsOnly->setChecked(true);
    return photograph(*details, out.filePath("details-problems-only.png")) ? 0 : 1;
}
