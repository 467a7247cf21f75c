// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/frmMain.h"

#include "app/FacePicture.h"
#include "app/WindowShape.h"
#include "app/frmSplash.h"
#include "setup/MIDISetupForm.h"
#include "setup/PortOpening.h"
#include "setup/SettingsKeys.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFontMetricsF>
#include <QLabel>
#include <QPainter>
#include <QPushButton>

namespace tandrel {

namespace {

const QString kReadyText = QStringLiteral("Ready to Receive or Open");
const QColor kTan(220, 188, 140);
const QColor kNavy(40, 44, 79);

QFont makeFont(const QString& family, double points, bool bold)
{
    QFont f(family);
    f.setPointSizeF(points);
    f.setBold(bold);
    return f;
}

}  // namespace

frmMain::frmMain(Services& services, DumpState& state, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), services_(services), MAIN(state),
      MIDIInput1(services.MIDIInput1), MIDIOutput1(services.MIDIOutput1), dsCmDlg(services.dsCmDlg)
{
    setWindowTitle(QStringLiteral("GT-3 Fenmarch"));
    setFixedSize(451, 238);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, kTan);
    setPalette(pal);
    buildControls();
    buildVerdictLamp();

    MIDIInput1.events.Message = [this] { MIDIInput1_Message(); };
    MIDIInput1.events.Error = [this](std::int16_t code, const QString& text) { MIDIInput1_Error(code, text); };
    MIDIOutput1.events.Error = [this](std::int16_t code, const QString& text) { MIDIOutput1_Error(code, text); };
    MIDIOutput1.events.QueueEmpty = [this] { MIDIOutput1_QueueEmpty(); };
}

frmMain::~frmMain()
{
    MIDIInput1.events = {};
    MIDIOutput1.events = {};
    delete about_.data();
}

void frmMain::buildControls()
{
    auto button = [this](const QString& caption, QRect geometry, const QFont& f) {
        auto* b = new QPushButton(caption, this);
        b->setGeometry(geometry);
        // Where the named face is missing its stand-in may be wider: shrink the
        // caption until it fits its button with a little margin.
        QFont fitted = f;
        while (fitted.pointSizeF() > 6
               && QFontMetricsF(fitted).horizontalAdvance(caption) > geometry.width() - 8)
            fitted.setPointSizeF(fitted.pointSizeF() - 0.5);
        b->setFont(fitted);
        return b;
    };
    const QFont big = makeFont(QStringLiteral("Tahoma"), 14.25, true);
    const QFont small = makeFont(QStringLiteral("Tahoma"), 9, false);

    proSend = new ProgressBar(frame_, this);
    proSend->setGeometry(61, 81, 327, 14);
    proSend->setVisible(false);

    cmdMinimize = button(QString(QChar(0x2013)), {287, 6, 16, 15}, makeFont(QStringLiteral("Arial Black"), 9, true));
    cmdMinimize->setToolTip(QStringLiteral("Minimize to Task Bar"));
    cmdMinimize->setFocusPolicy(Qt::ClickFocus);
    cmdQuit = button(QStringLiteral("Quit"), {265, 181, 74, 21}, small);
    cmdAbout = button(QStringLiteral("About"), {187, 181, 74, 21}, small);
    cmdSetup = button(QStringLiteral("Setup"), {109, 181, 74, 21}, small);

    // Takes the keyboard focus during the transfer commands; it lies below the face,
    // where it is never seen.
    cmdFocus = new QPushButton(this);
    cmdFocus->setGeometry(224, 294, 14, 10);
    cmdFocus->setFocusPolicy(Qt::ClickFocus);

    cmdSend = button(QStringLiteral("Send"), {310, 101, 84, 34}, big);
    cmdSave = button(QStringLiteral("Save"), {144, 101, 79, 34}, big);
    cmdReceive = button(QStringLiteral("Receive"), {56, 101, 84, 34}, big);
    cmdOpen = button(QStringLiteral("Open"), {227, 101, 79, 34}, big);

    lblStatus = new QLabel(this);
    lblStatus->setGeometry(72, 145, 309, 27);
    lblStatus->setFont(makeFont(QStringLiteral("Arial"), 8.25, true));
    lblStatus->setAutoFillBackground(true);
    lblStatus->setAlignment(Qt::AlignCenter);
    applyStatusColour();

    // The graphical buttons show the tan back colour.
    for (QPushButton* b : {cmdMinimize, cmdQuit, cmdAbout, cmdSetup, cmdSend, cmdSave, cmdReceive, cmdOpen})
        b->setStyleSheet(QStringLiteral(
            "QPushButton { background-color: rgb(220,188,140); color: rgb(40,44,79);"
            " border: 1px solid rgb(120,92,52); border-radius: 4px; padding: 0px; }"
            "QPushButton:hover { background-color: rgb(232,206,164); }"
            "QPushButton:pressed { background-color: rgb(196,164,116); }"
            "QPushButton:focus { border: 2px solid rgb(40,44,79); }"));

    for (QPushButton* b : {cmdReceive, cmdSave, cmdOpen, cmdSend, cmdSetup, cmdAbout, cmdQuit})
        b->setFocusPolicy(Qt::StrongFocus);
    setTabOrder(cmdReceive, cmdSave);
    setTabOrder(cmdSave, cmdOpen);
    setTabOrder(cmdOpen, cmdSend);
    setTabOrder(cmdSend, cmdSetup);
    setTabOrder(cmdSetup, cmdAbout);
    setTabOrder(cmdAbout, cmdQuit);

    connect(cmdReceive, &QPushButton::clicked, this, &frmMain::cmdReceive_Click);
    connect(cmdSave, &QPushButton::clicked, this, &frmMain::cmdSave_Click);
    connect(cmdOpen, &QPushButton::clicked, this, &frmMain::cmdOpen_Click);
    connect(cmdSend, &QPushButton::clicked, this, &frmMain::cmdSend_Click);
    connect(cmdSetup, &QPushButton::clicked, this, &frmMain::cmdSetup_Click);
    connect(cmdAbout, &QPushButton::clicked, this, &frmMain::cmdAbout_Click);
    connect(cmdQuit, &QPushButton::clicked, this, &frmMain::cmdQuit_Click);
    connect(cmdMinimize, &QPushButton::clicked, this, &frmMain::cmdMinimize_Click);
}

void frmMain::setStatusColour(unsigned rgb)
{
    // A transfer sets its colour with every message; only a change needs a new palette.
    if (rgb == statusColour_)
        return;
    statusColour_ = rgb;
    applyStatusColour();
}

void frmMain::applyStatusColour()
{
    QPalette pal = lblStatus->palette();
    pal.setColor(QPalette::Window, kNavy);
    pal.setColor(QPalette::WindowText, QColor::fromRgb(statusColour_));
    lblStatus->setPalette(pal);
}

QString frmMain::statusText() const
{
    if (countPending_) {
        statusText_ += settings::SignedText(statusCount_) + afterCount_;
        countPending_ = false;
    }
    return statusText_;
}

void frmMain::setStatusText(const QString& text)
{
    statusText_ = text;
    countPending_ = false;
    // A frame that still waits draws the bar, and finds this text already there.
    applyStatusText();
}

void frmMain::setStatusCountPaced(const QString& before, std::int64_t count, const QString& after)
{
    // A transfer sets this after every message: the fixed texts are shared, not copied.
    statusText_ = before;
    statusCount_ = count;
    afterCount_ = after;
    countPending_ = true;
    frame_.request();
}

void frmMain::applyStatusText()
{
    // A carriage return starts a second line.
    QString shown = statusText();
    shown.replace(u'\r', u'\n');
    lblStatus->setText(shown);
}

void frmMain::drawFrame()
{
    // Both only mark themselves for a paint; the paint they asked for is then done
    // at once, in one pass over the window and one flush.
    applyStatusText();
    proSend->markLatest();
    QCoreApplication::sendPostedEvents(this, QEvent::UpdateRequest);
}

void frmMain::Form_Load()
{
    MIDIInput1.setSysexBufferSize(kSysexBufferSize);
    ApplyWindowShape(*this);

    // A first run (setup never confirmed) asks for the MIDI devices first.
    if (settings::Val(services_.settings.read(settings::kUserSetup, QStringLiteral("0"))) == 0)
        cmdSetup_Click();

    OpenStoredMIDIInput(MIDIInput1, services_.settings, services_.messageBoxes);
    OpenStoredMIDIOutput(MIDIOutput1, services_.settings, services_.messageBoxes);
    MAIN.sUserFolder = services_.settings.read(settings::kUserFolder, settings::ExecutableFolder());
    ResetToReady();
}

void frmMain::ResetToReady()
{
    MIDIInput1.setCommand(MIDIInput::Start);
    setStatusColour(kGreen);
    setStatusText(kReadyText);
    MAIN.lByteCount = 0;
    MAIN.sSysexData.clear();
    dumpReplaced();
}

bool frmMain::offerToSaveFirst(const QString& prompt)
{
    vMsg = prompt;
    vStyle = static_cast<int>(MessageBoxes::vbYesNoCancelQuestion);
    vTitle = kTitle;
    vResponse = services_.messageBoxes.MsgBox(vMsg.toString(), vStyle.toInt(), vTitle.toString());
    switch (vResponse.toInt()) {
    case MessageBoxes::vbYes:
        cmdSave_Click();
        return true;
    case MessageBoxes::vbNo:
        return true;
    default:
        return false;
    }
}

void frmMain::cmdQuit_Click()
{
    if (bDumpUnsaved
        && !offerToSaveFirst(QStringLiteral("You received a bulk dump but have not saved it as a file. "
                                            "Do you want to save it before quitting Tandrel?")))
        return;
    close();
}

void frmMain::closeEvent(QCloseEvent* event)
{
    Form_Unload();
    event->accept();
}

void frmMain::Form_Unload()
{
    if (unloaded_)
        return;
    unloaded_ = true;
    const std::int16_t state = MIDIInput1.State();
    if (state != MIDIInput::Closed && state != MIDIInput::Opened)
        MIDIInput1.setCommand(MIDIInput::Stop);
    if (MIDIInput1.State() != MIDIInput::Closed)
        MIDIInput1.setCommand(MIDIInput::Close);
    MIDIOutput1.setCommand(MIDIOutput::Close);
    if (about_)
        about_->close();
    services_.eventLoop.End();
}

void frmMain::showPortError(std::int16_t ErrorCode, const QString& ErrorMessage)
{
    // The ports use 0 and 8 for reports that need no answer from the user.
    if (ErrorCode == 0 || ErrorCode == 8)
        return;
    services_.messageBoxes.MsgBox(ErrorMessage, MessageBoxes::vbOKOnly, kTitle);
}

void frmMain::cmdMinimize_Click()
{
    setWindowState(windowState() | Qt::WindowMinimized);
}

void frmMain::cmdSetup_Click()
{
    MIDISetupForm::showModal(setupForm_, services_, MAIN, this);
    // Choices that could not be stored still hold until the program ends; say
    // where they could not be saved, once per run.
    const QString unsaved = services_.settings.unsavedLocation();
    if (!unsaved.isEmpty() && !toldSettingsUnsaved_) {
        toldSettingsUnsaved_ = true;
        services_.messageBoxes.MsgBox(
            QStringLiteral("Tandrel could not save its settings to %1. The MIDI devices and folder you chose "
                           "apply only until Tandrel closes.")
                .arg(QDir::toNativeSeparators(unsaved)),
            MessageBoxes::vbOKOnly, kTitle);
    }
}

void frmMain::cmdAbout_Click()
{
    if (!about_) {
        about_ = new frmSplash(this);
        about_->setAttribute(Qt::WA_DeleteOnClose);
    }
    about_->show();
    about_->raise();
    about_->activateWindow();
}

void frmMain::DrawFaceAhead()
{
    faceAhead_ = std::async(std::launch::async, [ratio = devicePixelRatioF()] { return FaceImage(ratio); });
}

void frmMain::paintEvent(QPaintEvent*)
{
    // Drawn for the screen's pixel density, and again when the window moves to a
    // screen of another.
    if (faceAhead_.valid())
        face_ = QPixmap::fromImage(faceAhead_.get());
    if (face_.isNull() || face_.devicePixelRatio() != devicePixelRatioF())
        face_ = FacePicture(devicePixelRatioF());
    QPainter painter(this);
    // A window cut to its mask shows every pixel inside it: the rim's colour
    // fills those the face's smooth edge leaves partly clear.
    if (!testAttribute(Qt::WA_TranslucentBackground))
        painter.fillRect(rect(), kFaceRim);
    painter.drawPixmap(0, 0, face_);
}

}  // namespace tandrel
