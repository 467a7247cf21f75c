// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The main window: every control the program's work needs, its start-up and
// shut-down, and the handlers of its buttons and of the MIDI ports' events.
// The handlers are grouped by concern: start-up, the status line, Quit and unload
// in app/frmMain.cpp; Receive, Send, Open and Save in dump/; the drag in
// app/frmMain_drag.cpp. The window reaches the outside only through Services.

#include "app/frmSplash.h"
#include "dump/DumpState.h"
#include "platform/FramePacer.h"
#include "platform/ProgressBar.h"
#include "platform/Services.h"

#include <QImage>
#include <QPixmap>
#include <QPointer>
#include <QVariant>
#include <QWidget>

#include <cstdint>
#include <future>
#include <memory>

class QLabel;
class QPushButton;

namespace tandrel {

class MIDISetupForm;
class VerdictLamp;

class frmMain : public QWidget {
    Q_OBJECT
public:
    //! Status line colours.
    static constexpr unsigned kGreen = 0x00FF00;   // red 0, green 255, blue 0
    static constexpr unsigned kYellow = 0xFFFF00;  // red 255, green 255, blue 0
    //! The title of every message box.
    static inline const QString kTitle = QStringLiteral("Tandrel");
    //! The input port's buffer for one System Exclusive message.
    static constexpr std::int32_t kSysexBufferSize = 125000;

    frmMain(Services& services, DumpState& MAIN, QWidget* parent = nullptr);
    ~frmMain() override;

    //! Start-up. Runs once, before the window is first shown.
    void Form_Load();
    //! Closes the ports and ends the program. Runs once, whatever closes the window.
    void Form_Unload();
    //! The Ready state: input started, green "Ready to Receive or Open", dump empty.
    void ResetToReady();

    // Buttons.
    void cmdReceive_Click();
    void cmdSave_Click();
    void cmdOpen_Click();
    void cmdSend_Click();
    void cmdSetup_Click();
    void cmdAbout_Click();
    void cmdQuit_Click();
    void cmdMinimize_Click();

    // MIDI port events.
    void MIDIInput1_Message();
    void MIDIInput1_Error(std::int16_t ErrorCode, const QString& ErrorMessage);
    void MIDIOutput1_Error(std::int16_t ErrorCode, const QString& ErrorMessage);
    void MIDIOutput1_QueueEmpty();

    // File dialog notifications: the program takes no action on them.
    void dsCmDlg_CancelDialog() {}
    void dsCmDlg_FileBrowse(QString /*sFilename*/) {}
    void dsCmDlg_FileSelected(QString /*sFilename*/) {}

    // The drag, in twips within the client area.
    void Form_MouseDown(std::int16_t Button, std::int16_t Shift, float X, float Y);
    void Form_MouseMove(std::int16_t Button, std::int16_t Shift, float X, float Y);
    void Form_MouseUp(std::int16_t Button, std::int16_t Shift, float X, float Y);

    //! Starts drawing the window's face on a worker thread, for the first paint:
    //! it takes a few milliseconds, which start-up can spend opening the ports.
    void DrawFaceAhead();

    //! The status line's text colour, as 0xRRGGBB.
    unsigned statusColour() const { return statusColour_; }
    void setStatusColour(unsigned rgb);
    //! The status line's text: always the latest, whether drawn yet or not.
    QString statusText() const;
    //! Sets and draws the text at once; a running count still waiting to be drawn
    //! is dropped.
    void setStatusText(const QString& text);
    //! For the running count of a transfer: the text `before`, the count with one
    //! leading blank for its sign, then `after`. It is the status text at once, and
    //! is drawn at most once a frame, the latest count each time; the text itself
    //! is only put together when it is read or drawn.
    void setStatusCountPaced(const QString& before, std::int64_t count, const QString& after);

    //! True once Form_Unload has run: no handler may touch the ports after that.
    bool unloaded() const { return unloaded_; }
    //! True while a send is in progress.
    bool sending() const { return sending_; }
    //! The setup dialog while it is loaded (shown, or hidden after Set).
    MIDISetupForm* setupForm() const { return setupForm_.get(); }
    //! The About window while it is open.
    frmSplash* aboutWindow() const { return about_.data(); }

    // Controls, in the window's stored order.
    ProgressBar* proSend = nullptr;
    QPushButton* cmdMinimize = nullptr;
    QPushButton* cmdQuit = nullptr;
    QPushButton* cmdAbout = nullptr;
    QPushButton* cmdSetup = nullptr;
    QPushButton* cmdFocus = nullptr;
    QPushButton* cmdSend = nullptr;
    QPushButton* cmdSave = nullptr;
    QPushButton* cmdReceive = nullptr;
    QPushButton* cmdOpen = nullptr;
    QLabel* lblStatus = nullptr;
    //! The held dump's verdict, beside the status line; opens the details window.
    VerdictLamp* lampVerdict = nullptr;

    // Window-level state.
    bool bDumpUnsaved = false;
    QVariant vMsg, vStyle, vTitle, vResponse;

    // Drag state.
    std::int16_t iDragX = 0;
    std::int16_t iDragY = 0;
    bool bDragging = false;

protected:
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void buildControls();
    //! The verdict lamp and the details window's shortcut (app/frmMain_verdict.cpp).
    void buildVerdictLamp();
    //! Asks before sending a dump with damaged messages. False: the user said No.
    bool confirmDamagedSend();
    //! The held dump was replaced or emptied: the lamp judges it at once.
    void dumpReplaced();
    //! Messages were added to the held dump: the lamp judges it once the input is quiet.
    void dumpGrew();
    //! Puts the status colour on the label's palette.
    void applyStatusColour();
    //! Puts the held status text on the label.
    void applyStatusText();
    //! The window's frame: the latest status text and bar value, painted together now.
    void drawFrame();
    //! Shows a port's error text, except for the codes that need no answer.
    void showPortError(std::int16_t ErrorCode, const QString& ErrorMessage);
    //! Asks whether to save the unsaved received dump first. Returns false when the
    //! user cancelled; runs the Save command on Yes.
    bool offerToSaveFirst(const QString& prompt);
    //! Sets up the file dialog for saving (true) or opening (false).
    void setUpFileDialog(bool saving);
    //! Moves the window to (left, top) in twips on the screen.
    void moveToTwips(float left, float top);

    Services& services_;
    DumpState& MAIN;
    MIDIInput& MIDIInput1;
    MIDIOutput& MIDIOutput1;
    FileDialog& dsCmDlg;
    QPixmap face_;
    //! The face, drawn on a worker thread while start-up goes on, for the first paint.
    std::future<QImage> faceAhead_;
    unsigned statusColour_ = kGreen;
    //! The status text, or, while `countPending_`, the part of it before the count.
    mutable QString statusText_;
    mutable bool countPending_ = false;
    std::int64_t statusCount_ = 0;
    QString afterCount_;
    //! One frame for the status line and the bar: both are drawn in one paint.
    FramePacer frame_{this, [this] { drawFrame(); }};
    bool unloaded_ = false;
    bool sending_ = false;
    //! Files opened this run: a send ends when an Open replaces the dump it sends.
    std::uint64_t filesOpened_ = 0;
    //! The user has been told that the settings could not be saved.
    bool toldSettingsUnsaved_ = false;
    std::unique_ptr<MIDISetupForm> setupForm_;
    QPointer<frmSplash> about_;
};

}  // namespace tandrel
