// SPDX-License-Identifier: GPL-3.0-or-later
// The bare Qt baseline: one window of the main window's size, shown; nothing else.
// Prints the time of its first paint and its peak memory, then ends. With a file
// argument it first holds that file's bytes, the least a program can do to hold a
// dump.
#include "FirstPaintProbe.h"
#include "ProcessStats.h"

#include <QApplication>
#include <QFile>
#include <QWidget>

#include <cstdio>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QByteArray held;
    if (argc > 1) {
        QFile file(QString::fromLocal8Bit(argv[1]));
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "cannot open %s\n", argv[1]);
            return 1;
        }
        held = file.readAll();
    }
    QWidget window;
    window.setFixedSize(451, 238);
    tandrel::bench::FirstPaintProbe probe(&window, [&](std::int64_t paintedNs) {
        tandrel::bench::Report("paint_ns", paintedNs);
        tandrel::bench::Report("held_bytes", held.size());
        tandrel::bench::Report("peak_rss_kib", tandrel::bench::PeakRssKiB());
        QCoreApplication::quit();
    });
    window.show();
    return QApplication::exec();
}
