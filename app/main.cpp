// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/frmMain.h"
#include "dump/DumpState.h"
#include "platform/MidiPorts.h"
#include "platform/ProductionServices.h"

#include <QApplication>
#include <QIcon>
#include <QScreen>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Tandrel"));
    QApplication::setApplicationName(QStringLiteral("Tandrel"));
    QApplication::setApplicationVersion(QStringLiteral(TANDREL_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("org.example.Tandrel"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/org.example.Tandrel.svg")));

    tandrel::ProductionServices services;
    // The MIDI system's clients take longer to make than the window: both at once.
    tandrel::MakeMIDIClientsAhead(services.services().MIDIInput1, services.services().MIDIOutput1);
    tandrel::DumpState MAIN;
    tandrel::frmMain window(services.services(), MAIN);
    window.DrawFaceAhead();
    window.Form_Load();
    if (const QScreen* screen = window.screen())
        window.move(screen->availableGeometry().center() - window.rect().center());
    window.show();
    return QApplication::exec();
}
