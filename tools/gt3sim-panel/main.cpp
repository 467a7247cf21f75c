// SPDX-License-Identifier: GPL-3.0-or-later
// tandrel-gt3sim: a BOSS GT-3 to try Tandrel with, on the MIDI system Tandrel uses.
//
//   tandrel-gt3sim [--size BYTES] [--settings FILE [--folder DIR]]
//
// --size sets how big the generated dump in its memory is. --settings writes a
// Tandrel settings file whose devices are the simulated ports (and whose dump
// folder is DIR), for a Tandrel run pointed at it. Once the ports are up it prints
// "tandrel-gt3sim: ready system=… input_device=… output_device=…"; each Bulk Dump
// and Bulk Load ends with a line of its own.
#include "Gt3Panel.h"
#include "SimPorts.h"

#include "gt3sim/Dt1.h"
#include "platform/QtServices.h"
#include "setup/SettingsKeys.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QIcon>
#include <QMessageBox>

#include <cstdio>

namespace {

const char* const PortName = "GT-3 (simulated)";

QString device(const std::optional<int>& n)
{
    return n ? QString::number(*n) : QStringLiteral("none");
}

}  // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tandrel-gt3sim"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/org.example.Tandrel.svg")));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("A simulated BOSS GT-3 to try Tandrel with."));
    parser.addHelpOption();
    const QCommandLineOption size(QStringLiteral("size"), QStringLiteral("Size of the dump in memory."),
                                  QStringLiteral("bytes"), QStringLiteral("125000"));
    const QCommandLineOption settings(QStringLiteral("settings"),
                                      QStringLiteral("Write Tandrel settings naming the simulated ports."),
                                      QStringLiteral("file"));
    const QCommandLineOption folder(QStringLiteral("folder"), QStringLiteral("Dump folder for those settings."),
                                    QStringLiteral("dir"));
    parser.addOptions({size, settings, folder});
    parser.process(app);

    std::string error;
    bool sized = false;
    const std::size_t bytes = parser.value(size).toULongLong(&sized);
    const gt3sim::Bytes memory = sized ? gt3sim::generateDump(bytes, 0, 0x10, 1, &error) : gt3sim::Bytes{};
    if (memory.empty()) {
        std::fprintf(stderr, "tandrel-gt3sim: --size: %s\n", sized ? error.c_str() : "not a number");
        return 2;
    }

    const auto ports = gt3sim::SimPorts::open(PortName, &error);
    if (!ports) {
        const QString why = QStringLiteral("No MIDI system to offer the simulated GT-3's ports on: %1")
                                .arg(QString::fromStdString(error));
        std::fprintf(stderr, "tandrel-gt3sim: %s\n", why.toLocal8Bit().constData());
        QMessageBox::critical(nullptr, QStringLiteral("GT-3 (simulated)"), why);
        return 1;
    }
    const auto [in, out] = ports->tandrelDevices();
    if (parser.isSet(settings) && !(in && out)) {
        std::fprintf(stderr, "tandrel-gt3sim: Tandrel's device lists do not show the simulated ports\n");
        return 1;
    }
    if (parser.isSet(settings)) {
        using namespace tandrel::settings;
        tandrel::QSettingsStore store(parser.value(settings));
        store.write(kUserSetup, QStringLiteral("1"));
        store.write(kMIDIInputDeviceID, SignedText(*in));
        store.write(kMIDIOutputDeviceID, SignedText(*out));
        if (parser.isSet(folder)) store.write(kUserFolder, QDir(parser.value(folder)).absolutePath());
    }
    std::printf("tandrel-gt3sim: ready system=%s input_device=%s output_device=%s\n", ports->systemName(),
                device(in).toLatin1().constData(), device(out).toLatin1().constData());
    std::fflush(stdout);

    gt3sim::Gt3Panel panel(ports->out(), ports->in(), QString::fromLatin1(ports->systemName()), memory);
    panel.show();
    return QApplication::exec();
}
