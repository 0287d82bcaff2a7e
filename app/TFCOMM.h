#pragma once
// The main window: every control of the program, the start-up sequence, the
// per-frame pipeline and the command handlers.

#include "app/AppState.h"
#include "app/Dialogs.h"
#include "app/HostSuffix.h"

#include <QMainWindow>

#include <array>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;
class QToolButton;

namespace orvex {

class TChartControl;
class TConnectionControl;
class THidDeviceController;
class IHidPlatform;
class TSerialPortDriver;
class TUsbCableLink;
struct TLinkViewState;
class TClickPanel;
class TLcdPanel;
class TChartView;
class TRecordGrid;
class TRecordGridModel;
class TSessionJournal;
class TShape;
struct RecordOutcome;
class TViewRefresh;

struct WindowOptions {
    IDialogs* dialogs = nullptr;      // nullptr: the real Qt dialogs
    MachineProbe machineProbe;        // empty: uname(2)
    std::array<QString, 4> portPaths; // serial devices for COM1..COM4; empty: the default
    // HID access; nullptr: the system's (libudev and hidraw).
    std::shared_ptr<IHidPlatform> hidPlatform;
    // The folder of the session journals; empty: TSessionJournal::DefaultFolder().
    QString journalFolder;
};

class TFCOMM : public QMainWindow {
    Q_OBJECT
  public:
    static constexpr int kClientWidth = 714;
    static constexpr int kClientHeight = 477;
    static inline const QString kTitle = QStringLiteral("Orvex Interface Program Ver 4.01");

    explicit TFCOMM(const WindowOptions& options = {}, QWidget* parent = nullptr);
    ~TFCOMM() override;

    AppState& state() { return state_; }
    IDialogs& dialogs() { return *dialogs_; }

    // The serial receive handler: runs the packet assembler over a batch of bytes.
    void OrvexDATA(QObject* sender, const std::uint8_t* data, int count);
    // The per-frame pipeline, run for every accepted frame (reads frameText).
    void LcdDisplayOrvex();
    // Brings the controls that show the frames (panel, bar, judge, page number,
    // grid, chart) up to date now; otherwise that happens at most once per screen
    // refresh and ten times a second, and not while the window is hidden or minimised.
    void FlushView();

    // Runs an event handler: an error it raises ends the handler and is shown
    // in the standard error message box; the program goes on.
    void RunHandler(const std::function<void()>& handler);

    // Command handlers.
    void FormCreate();
    void ApplyMeterProfile();
    void BitBtn1Click();
    void BtExit1Click();
    // Closes the record table cds1 (the quit paths).
    void CloseRecordTable();
    void RecordNewClick();
    void ChooseRecordLimit(int item); // N10001Click .. limitessClick
    void TrecordTimer();
    void JudgeReading();
    void INDataToTable();
    // The chart pager's part of a recorded frame and of "New".
    void AddChartValue(double value);
    void ClearChartPoints();
    void ShowPage(); // Bt10 shows the pager's page
    void BtFirstClick();
    void BTPreviousClick();
    void BtNextClick();
    void BTlastClick();
    void MaxrecordChange();
    void Timer2Timer();
    void btFillClick();
    void FillClick();
    void BtNewClick();
    void TbFdClick();
    void BtSaveClick();
    void SetmaxExit();
    void SetMinExit();
    TChartControl& ChartControl() { return *state_.chart.ChartControl; }
    void USBConClick();
    void saveasClick();
    void SpeedButton2Click();
    void BtPrintClick();
    void PrintClick();

    // The serial port component and the connection controls with the watchdog.
    TSerialPortDriver& COMM2() { return *COMM2_; }
    TConnectionControl& Connection() { return *connection_; }
    // The HID device controller (none in a second window of the same program:
    // there is one controller per program) and the USB adapter cable link.
    THidDeviceController* HidCtl() { return HidCtl_.get(); }
    TUsbCableLink& Cable() { return *cable_; }
    // The notice of a link lost under the user (the cable pulled, a port gone):
    // TConnectionControl::LinkLost has put the controls back already.
    void LinkLostNotice(const QString& text);
    // The session journal of this window (app/WindowSession.cpp).
    TSessionJournal& Journal() { return *journal_; }

    // The widget with that control name (object name), or nullptr.
    template <typename W = QWidget> W* control(const QString& name) const {
        return findChild<W*>(name);
    }
    QAction* action(const QString& name) const;

  signals:
    // The user asked to end the program (the event loop ends when the handler returns).
    void terminationRequested();

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void FormResize();

  private:
    void BuildMenu();
    void BuildConnectionBar(QWidget* client);
    void BuildJudgePanel(QWidget* client);
    void BuildChartToolbar(QWidget* client);
    void BuildRecordToolbar(QWidget* client);
    void BuildUnseenControls(QWidget* client);
    void ShowHandlerError(const QString& text);
    void ConnectRecording();
    void ConnectChart();
    void ConnectLink(const WindowOptions& options);
    void ConnectCable(const WindowOptions& options);
    void SyncDevListBox();
    void SyncHistoryListBox();
    void ConnectFiles();
    // The session: port-open failures and a lost port, the journal and the
    // offer of journals left by a crash (app/WindowSession.cpp).
    void ConnectSession(const WindowOptions& options);
    void OfferStaleJournals();
    // After INDataToTable's gates: the journal, and the record limit's notice.
    void AfterRecording(const RecordOutcome& outcome);
    // The journal starts afresh with the rows firstRow.. of the table.
    void RestartJournal(int firstRow);
    void ShowLinkView(const TLinkViewState& view);
    // The once-per-screen-refresh part of the frames: what the last ones changed.
    void RefreshView();
    // A frame's reading goes to the panel at the next refresh.
    void ShowReadingAtRefresh(MeterReading reading);
    void ShowVerdict();
    // Puts a replacement text into an edit (its change handler runs again).
    static void ReplaceEditText(QLineEdit* edit, const QString& text, int selStart, int selLength);

    // Connects a signal to a handler that runs through RunHandler.
    template <typename Sender, typename Signal, typename Fn>
    void On(Sender* sender, Signal signal, Fn&& fn) {
        connect(sender, signal, this,
                [this, fn = std::forward<Fn>(fn)](auto&&...) { RunHandler(fn); });
    }

    AppState state_;
    IDialogs* dialogs_;
    MachineProbe machineProbe_;

    QWidget* client_ = nullptr;
    TLcdPanel* Panel1 = nullptr;
    QWidget* Panel4 = nullptr;
    QWidget* Panel5 = nullptr;
    QWidget* Panel6 = nullptr;
    TChartView* Chtshow = nullptr;
    TRecordGrid* DBGrid1 = nullptr;
    TRecordGridModel* Data1 = nullptr;

    QLineEdit* T1HI = nullptr;
    QLineEdit* T1LO = nullptr;
    QLineEdit* T1VALUE = nullptr;
    TShape* Shape1 = nullptr;
    QLabel* judge = nullptr;
    QLabel* CONok = nullptr;
    QLabel* CONokN = nullptr;
    QLabel* USBtxt = nullptr;

    QCheckBox* BtFill = nullptr;
    QLineEdit* Maxrecord = nullptr;
    QToolButton* Bt10 = nullptr;
    QCheckBox* RepeatSet = nullptr;
    QCheckBox* RecordSI = nullptr;
    QLineEdit* RecordSITime = nullptr;
    QCheckBox* multirange = nullptr;
    QCheckBox* IFOrvex = nullptr;
    QCheckBox* SetMaxB = nullptr;
    QCheckBox* SetMinB = nullptr;
    QLineEdit* Setmax = nullptr;
    QLineEdit* SetMin = nullptr;
    QComboBox* ComboBox1 = nullptr;

    QTimer* Trecord = nullptr;
    QTimer* Timer2 = nullptr;

    // What the frames since the last refresh left to show.
    TViewRefresh* viewRefresh_ = nullptr;
    MeterReading panelReading_; // the last frame that reached the panel
    bool panelDirty_ = false;
    int barPosition_ = 0;
    bool barDirty_ = false;
    bool verdictPass_ = true; // the verdict of the last frame judged
    bool verdictDirty_ = false;
    bool pageDirty_ = false;

    QString lastOpenedFile_; // the open dialog keeps the last name chosen
    std::unique_ptr<TSerialPortDriver> COMM2_;
    std::unique_ptr<TConnectionControl> connection_;
    std::unique_ptr<THidDeviceController> HidCtl_;
    std::unique_ptr<TUsbCableLink> cable_;
    std::unique_ptr<TSessionJournal> journal_;
    long long historyShown_ = 0; // cable history lines copied to HistoryListBox
    bool historySyncQueued_ = false;
};

} // namespace orvex
