// SPDX-License-Identifier: GPL-3.0-or-later
// Shows the real main window over doubled services on the X server in DISPLAY and
// photographs it from outside with ImageMagick's import: once in each lamp state,
// then the details window of a damaged dump. The PNGs go to the folder given.
// app_VerdictScreenshotTest runs this on a private Xvfb and looks at the pictures.
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

//! A GT-3 data set at a 7-bit address, as a bulk dump carries it.
ByteString dataSet(std::uint32_t address, std::size_t length, char fill)
{
    ByteString m("\xF0\x41\x10\x00\x1B\x12", 6);
    unsigned sum = 0;
    for (int shift = 21; shift >= 0; shift -= 7) {
        m += char((address >> shift) & 0x7F);
        sum += (address >> shift) & 0x7F;
    }
    m += ByteString(length, fill);
    sum += unsigned(fill) * unsigned(length);
    m += char((128 - sum % 128) & 0x7F);
    m += '\xF7';
    return m;
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
    ByteString good;
    for (std::uint32_t patch = 0; patch < 3; ++patch)
        for (std::uint32_t block = 0; block < 4; ++block)
            good += dataSet((0x0Au << 21) + (patch << 14) + block * 256, block == 3 ? 100 : 256, char(0x11 * (block + 1)));
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
