// SPDX-License-Identifier: GPL-3.0-or-later
#include "setup/MIDISetupForm.h"

#include "setup/DeviceLookup.h"
#include "setup/OpenMIDIPorts.h"
#include "setup/PortOpening.h"
#include "setup/SettingsKeys.h"

#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

#include <algorithm>

namespace tandrel {

const QString MIDISetupForm::kBrowseTitle = QStringLiteral(
    "Select a folder for your SysEx files and click OK. Tandrel will search or save in the selected folder first.");

namespace {

const QColor kTan(220, 188, 140);
const QColor kDarkBlue(40, 44, 79);

//! Layout is kept in twips, as designed; 15 twips make a pixel at 96 dpi.
QRect twips(int left, int top, int width, int height)
{
    return {left / 15, top / 15, width / 15, height / 15};
}

QFont makeFont(const QString& family, double points)
{
    QFont f(family);
    f.setPointSizeF(points);
    return f;
}

//! The list position to select for a stored one: itself when it is listed, else
//! the nearest listed entry, or none when the list is empty.
int nearestEntry(const QComboBox& list, int position)
{
    return list.count() == 0 ? -1 : std::clamp(position, 0, list.count() - 1);
}

}  // namespace

MIDISetupForm::MIDISetupForm(Services& services, DumpState& state, QWidget* owner)
    : QDialog(owner), services_(services), MAIN(state), MIDIInput1(services.MIDIInput1),
      MIDIOutput1(services.MIDIOutput1)
{
    buildControls();
    Form_Load();
}

void MIDISetupForm::buildControls()
{
    setWindowTitle(QStringLiteral("MIDI Setup"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint
                   | Qt::WindowCloseButtonHint);
    setFixedSize(twips(0, 0, 4530, 2775).size());
    QPalette pal = palette();
    pal.setColor(QPalette::Window, kTan);
    setPalette(pal);
    setAutoFillBackground(true);

    const QFont frameFont = makeFont(QStringLiteral("Arial"), 9);
    const QFont controlFont = makeFont(QStringLiteral("MS Sans Serif"), 8.25);
    QPalette framePal = pal;
    framePal.setColor(QPalette::WindowText, kDarkBlue);

    frmSetUpMIDI = new QGroupBox(QStringLiteral("Setup MIDI Devices") + QString(15, u' '), this);
    frmSetUpMIDI->setGeometry(twips(120, 210, 2970, 1890));
    frmSetUpMIDI->setFont(frameFont);
    frmSetUpMIDI->setPalette(framePal);

    auto label = [&](const QString& text, QRect geometry) {
        auto* l = new QLabel(text, frmSetUpMIDI);
        l->setGeometry(geometry);
        l->setFont(frameFont);
        l->setPalette(framePal);
        return l;
    };
    auto list = [&](QRect geometry) {
        auto* c = new QComboBox(frmSetUpMIDI);
        c->setGeometry(geometry);
        c->setFont(controlFont);
        c->setPalette(QPalette());
        return c;
    };
    Label1[0] = label(QStringLiteral("MIDI In Device"), twips(210, 345, 1800, 300));
    cmbMIDIInDevice = list(twips(150, 615, 2640, 315));
    Label1[1] = label(QStringLiteral("MIDI Out Device"), twips(210, 1095, 1800, 270));
    cmbMIDIOutDevice = list(twips(165, 1365, 2640, 315));
    Label1[0]->setBuddy(cmbMIDIInDevice);
    Label1[1]->setBuddy(cmbMIDIOutDevice);

    QPalette buttonPal = QPalette();
    buttonPal.setColor(QPalette::Button, kTan);
    buttonPal.setColor(QPalette::Window, kTan);
    auto button = [&](const QString& caption, QRect geometry) {
        auto* b = new QPushButton(caption, this);
        b->setGeometry(geometry);
        b->setFont(controlFont);
        b->setPalette(buttonPal);
        // No button is the default: Enter in a list must not confirm the dialog.
        b->setAutoDefault(false);
        b->setDefault(false);
        return b;
    };
    cmdSet = button(QStringLiteral("&Set"), twips(3330, 300, 1020, 375));
    cmdCancel = button(QStringLiteral("&Cancel"), twips(3330, 780, 1020, 375));
    cmdSelectDefaultSysexFolder = button(QStringLiteral("Select Default SysEx &Folder"), twips(120, 2220, 2955, 375));

    setTabOrder(cmbMIDIInDevice, cmbMIDIOutDevice);
    setTabOrder(cmbMIDIOutDevice, cmdSet);
    setTabOrder(cmdSet, cmdCancel);
    setTabOrder(cmdCancel, cmdSelectDefaultSysexFolder);

    connect(cmdSet, &QPushButton::clicked, this, &MIDISetupForm::cmdSet_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &MIDISetupForm::CmdCancel_Click);
    connect(cmdSelectDefaultSysexFolder, &QPushButton::clicked, this,
            &MIDISetupForm::cmdSelectDefaultSysexFolder_Click);
}

void MIDISetupForm::Form_Load()
{
    const QString zero = QStringLiteral("0");
    SettingsStore& settings = services_.settings;

    cmbMIDIInDevice->addItems(ListDevices(MIDIInput1, 0));
    selectStored(*cmbMIDIInDevice, 0, settings::kMIDIInputDeviceID, settings::kMIDIInputDeviceName);
    MIDIInput1.setDeviceID(settings::ValInt16(settings.read(settings::kMIDIInputDeviceID, zero)));
    OpenMIDIInput(MIDIInput1, *cmbMIDIInDevice);

    cmbMIDIOutDevice->addItems(ListDevices(MIDIOutput1, MIDIOutput::MidiMapper));
    selectStored(*cmbMIDIOutDevice, MIDIOutput::MidiMapper, settings::kMIDIOutputDeviceID,
                 settings::kMIDIOutputDeviceName);
    MIDIOutput1.setDeviceID(settings::ValInt16(settings.read(settings::kMIDIOutputDeviceID, zero)));
    OpenMIDIOutput(MIDIOutput1, *cmbMIDIOutDevice);
}

void MIDISetupForm::selectStored(QComboBox& list, int first, const QString& idKey, const QString& nameKey)
{
    SettingsStore& settings = services_.settings;
    const int number = settings::ValInt16(settings.read(idKey, QStringLiteral("0")));
    const QString name = settings.read(nameKey, QString());
    // Settings from before names were kept go by the number alone.
    if (name.isEmpty()) {
        list.setCurrentIndex(nearestEntry(list, number - first));
        return;
    }
    QStringList names;
    for (int i = 0; i < list.count(); ++i)
        names << list.itemText(i);
    const auto at = FindDevice(names, name, number - first);
    if (!at) {
        AddAbsentDevice(list, name);
        return;
    }
    list.setCurrentIndex(*at);
    // The device has moved in the list: its number follows it quietly.
    if (*at + first != number)
        settings.write(idKey, settings::SignedText(*at + first));
}

void MIDISetupForm::showModal(std::unique_ptr<MIDISetupForm>& form, Services& services, DumpState& MAIN,
                              QWidget* owner)
{
    if (!form)
        form = std::make_unique<MIDISetupForm>(services, MAIN, owner);
    // Cancel (or closing the window) unloads, so the next showing lists the
    // devices afresh; after Set the dialog waits, hidden, with its selections.
    if (form->exec() == QDialog::Rejected)
        form.reset();
}

void MIDISetupForm::cmdSet_Click()
{
    OpenMIDIInput(MIDIInput1, *cmbMIDIInDevice);
    OpenMIDIOutput(MIDIOutput1, *cmbMIDIOutDevice);

    SettingsStore& settings = services_.settings;
    // A chosen device that is not connected keeps its stored name and number.
    const bool inAbsent = AbsentDeviceSelected(*cmbMIDIInDevice);
    const bool outAbsent = AbsentDeviceSelected(*cmbMIDIOutDevice);
    settings.write(settings::kUserSetup, QStringLiteral("1"));
    if (!inAbsent)
        settings.write(settings::kMIDIInputDeviceID, settings::SignedText(cmbMIDIInDevice->currentIndex()));
    if (!outAbsent)
        settings.write(settings::kMIDIOutputDeviceID, settings::SignedText(cmbMIDIOutDevice->currentIndex() - 1));
    // An item without a file-system path leaves the folder empty; the stored one stays.
    if (!MAIN.sUserFolder.isEmpty())
        settings.write(settings::kUserFolder, MAIN.sUserFolder);
    if (!inAbsent)
        settings.write(settings::kMIDIInputDeviceName, cmbMIDIInDevice->currentText());
    if (!outAbsent)
        settings.write(settings::kMIDIOutputDeviceName, cmbMIDIOutDevice->currentText());
    accept();
}

void MIDISetupForm::CmdCancel_Click()
{
    reject();
}

void MIDISetupForm::cmdSelectDefaultSysexFolder_Click()
{
    const std::optional<QString> chosen = services_.folderBrowser.browseForFolder(this, kBrowseTitle);
    if (!chosen)
        return;
    // The path ends at its first NUL, as a shell path buffer does.
    QString path = *chosen;
    if (const auto nul = path.indexOf(QChar(u'\0')); nul >= 0)
        path.truncate(nul);
    MAIN.sUserFolder = path;
}

void MIDISetupForm::keyPressEvent(QKeyEvent* event)
{
    if (event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::KeypadModifier) {
        switch (event->key()) {
        case Qt::Key_Escape:
            cmdCancel->click();
            return;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            // Enter presses the focused button only; elsewhere it does nothing,
            // since the dialog has no default button.
            if (auto* focused = qobject_cast<QPushButton*>(focusWidget()); focused && focused->window() == this)
                focused->click();
            return;
        default:
            break;
        }
    }
    QDialog::keyPressEvent(event);
}

}  // namespace tandrel
