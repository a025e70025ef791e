#pragma once

#include "app/Controls.h"
#include "app/Dialogs.h"
#include "engine/TTransT.h"

#include <QImage>
#include <QWidget>

#include <functional>

#include <array>
#include <atomic>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

class QAction;
class QCheckBox;
class QComboBox;
class QFileDialog;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QProgressBar;
class QPushButton;
class QTabWidget;
class QSocketNotifier;
class QTextBrowser;

namespace lodestrum::engine {
class VirtualLink;
}
namespace lodestrum::platform {
struct Message;
}

namespace lodestrum::app {

class QtJobHost;

// What the window needs from the program around it.
struct WindowSetup {
    platform::PortDriver* Driver = nullptr;
    const engine::TransferSet* Transfers = nullptr;
    engine::VirtualCable* Virtual = nullptr;
    // The window's side of the virtual link (its messages); usually the
    // same object as Virtual.
    engine::VirtualLink* Link = nullptr;
    // Puts a picture on the clipboard; false when that failed. The system
    // clipboard when empty.
    std::function<bool(const QImage&)> CopyToClipboard;
    std::shared_ptr<Dialogs> Prompts; // QtDialogs when null
    std::string CommandLinePath;
    std::string SettingsPath; // the per-user default when empty
    // Folders searched for the help text after the current folder.
    std::vector<std::string> HelpFolders;
};

// A stored value of another type than the one read; it ends the program.
class SettingsTypeError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The main window. Controls and state are public, as the design publishes
// them, so that the job host and the tests reach them by their names.
class TTranDlg : public QWidget {
    Q_OBJECT
    // First, so that the CalcType byte the jobs share lives as long as they do.
    WindowSetup Setup;
    std::shared_ptr<QtJobHost> Host;

  public:
    // Builds the window, loads the help text and the settings and starts the
    // first refresh job. Throws SettingsTypeError for a wrongly typed value.
    explicit TTranDlg(WindowSetup setup, QWidget* parent = nullptr);
    ~TTranDlg() override;

    // Creation handler: the command-line send, then the emulator's greeting.
    void FormCreate();
    // Destruction handler, run by the destructor: Goodbye to the emulator.
    void FormDestroy();

    // Handlers.
    void SendBtnClick();
    void FileListBoxDblClick();
    void FileListBoxKeyPress(int key);
    void FileListBoxChange();
    void FileNameEditKeyPress(int key);
    void DirectoryListBoxClick();
    void ReceiveBtnClick();
    void ReceiveGBtnClick();
    void ScrShotBtnClick();
    void StopBtnClick();
    void SendDone();
    void RecvDone();
    void RecvGDone();
    void ScrSDone();
    void SendCmdLineDone();
    void Image1Click();
    void TI821Click();
    void TI82TI831Click();
    void TI851Click();
    void TI861Click();
    void TI891Click();
    void TI921Click();
    void DtctAddBtnClick();
    void LinkPortComboBoxChange();
    void DelayEditChange();
    void SaveOptBtnClick();
    void CpyClipBtnClick();
    void SaveBMPBtnClick();
    void ToEmuBoxClick();

    // The emulator's messages.
    void WMHello(const platform::Message& message);
    void WMSendBuffer(const platform::Message& message);
    void WMEnableLink();
    void WMDisableLink();
    void WMGoodbye();

    void SetBusy();
    void SetIdle();
    void SendNextSelected();

    // The window's side of the job host's calls.
    void ShowStatusText(const QString& text);
    void ShowCalcTypeOf(uint8_t calcType, const QString& name);
    void ShowProgressOf(int percent);
    void RefreshFiles();
    void ShowScreenImage(const engine::MonoImage& image);
    void SelectLinkPort(int index);
    std::optional<std::string> AskSaveFileName(const engine::SaveDialogRequest& request);

    // Tells the application to end: stops every job and signals
    // ApplicationTerminated once none is left.
    void TerminateApplication();
    bool TerminateRequested() const { return Terminating; }
    int LiveJobs() const;
    // The settings as a job copies them.
    engine::JobSettings CurrentJobSettings() const;
    Dialogs& Prompts() { return *Setup.Prompts; }

    // State.
    bool Sending = false;
    bool JobRunning = false;
    engine::TTransThread* Job = nullptr; // the current tracked job, until it ends or is stopped
    int SendIndex = 0;
    std::atomic<uint8_t>& CalcType;
    QString SaveDialog1FileName; // the name SaveDialog1 holds
    // What ScrImage shows: the captured bitmap, one bit per pixel.
    QImage ScrBitmap;

    // Controls, by page.
    QTabWidget* PageControl1 = nullptr;
    QWidget* LinkingSheet = nullptr;
    TDirectoryListBox* DirectoryListBox = nullptr;
    TDriveComboBox* DriveComboBox = nullptr;
    KeyLineEdit* FileNameEdit = nullptr;
    TFileListBox* FileListBox = nullptr;
    QComboBox* FilterComboBox = nullptr;
    QPushButton* SendBtn = nullptr;
    QPushButton* ReceiveBtn = nullptr;
    QPushButton* ReceiveGBtn = nullptr;

    QWidget* ScreenSheet = nullptr;
    QFrame* ScrFrame = nullptr;
    QLabel* ScrImage = nullptr;
    QPushButton* ScrShotBtn = nullptr;
    QPushButton* CpyClipBtn = nullptr;
    QPushButton* SaveBMPBtn = nullptr;

    QWidget* SettingSheet = nullptr;
    QWidget* SettingControls = nullptr; // what SetBusy disables; the tab stays choosable
    QGroupBox* LinkPortGroupBox = nullptr;
    QComboBox* LinkPortComboBox = nullptr;
    QCheckBox* InvLinesBox = nullptr;
    QCheckBox* ToEmuBox = nullptr;
    QPushButton* DtctAddBtn = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* DelayEdit = nullptr;
    UpDown* DelayUpDown = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    QLabel* StartDirLabel = nullptr;
    TDirectoryListBox* StartDirectoryListBox = nullptr;
    TDriveComboBox* StartDriveComboBox = nullptr;
    QPushButton* SaveOptBtn = nullptr;

    QWidget* OptnSheet = nullptr;
    QGroupBox* TI89Box = nullptr;
    QCheckBox* TI89ClipSS = nullptr;
    QCheckBox* TI89UseFold = nullptr;
    QCheckBox* TI89Save92 = nullptr;
    QCheckBox* TI89MenuOnly = nullptr;
    QCheckBox* TI89SendToF = nullptr;
    QLineEdit* DefFoldName = nullptr;
    QGroupBox* TI86Box = nullptr;
    QCheckBox* TI86Back4p = nullptr;
    QPushButton* SaveBtn2 = nullptr;

    QWidget* PixTabSheet = nullptr;
    QListWidget* ListBox1 = nullptr;
    QComboBox* ComboBox1 = nullptr;
    QLabel* Label2 = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    QPushButton* Button3 = nullptr;

    QWidget* AboutSheet = nullptr;
    QTextBrowser* RichEdit1 = nullptr;
    QLabel* StaticText2 = nullptr;
    UrlLabel* ProUrlLabel1 = nullptr;

    QPushButton* StopBtn = nullptr;
    QWidget* Panel1 = nullptr;
    QFrame* Panel3 = nullptr;
    ClickImage* Image1 = nullptr;
    StatusBar* StatusBar1 = nullptr;
    QWidget* Panel2 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QFileDialog* SaveDialog1 = nullptr;
    QFileDialog* SavePictureDialog1 = nullptr;
    QMenu* CalcTypeMenu = nullptr;
    QAction* TI821 = nullptr;
    QAction* TI82TI831 = nullptr;
    QAction* TI851 = nullptr;
    QAction* TI861 = nullptr;
    QAction* TI891 = nullptr;
    QAction* TI921 = nullptr;

    // The filter list of FilterComboBox and SaveDialog1: name, mask.
    static const std::array<std::pair<const char*, const char*>, 13> Filters;

  signals:
    // Every job the window creates, tracked or not, in order.
    void JobCreated(int transferOp, const QString& path);
    // TerminateApplication has finished: no job is left.
    void ApplicationTerminated();

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    enum class Done {
        None,
        SendNextSelected,
        SendDone,
        RecvDone,
        RecvGDone,
        ScrSDone,
        SendCmdLineDone
    };

    void BuildLinkingSheet();
    void BuildScreenSheet();
    void BuildSettingSheet();
    void BuildOptnSheet();
    void BuildPixTabSheet();
    void BuildAboutSheet();
    void BuildOutsidePages();
    void LoadHelpText();
    void LoadSettings();
    void SetCalcTypeFromMenu(uint8_t calcType);
    bool SeriesNeedsClosing() const;
    std::string CurrentFilePath() const;
    void ApplyFileNameEdit(const QString& text);
    void DirectoryChanged(const QString& path);
    void StartDirectoryChanged(const QString& path);
    std::string SettingsFile() const;
    void DispatchMessage(const platform::Message& message);
    void WriteScreenImage(const QString& path) const;

    engine::TTransThread* StartJob(const std::string& path, uint8_t op, Done done);
    void JobFinished(engine::TTransThread& job, Done done);
    void RunDone(Done done);
    void EnableExports();
    void FinishTerminateIfIdle();

    void ApplyMenuChecks(uint8_t calcType);
    uint8_t CheckedCalcType = 5;

    QSocketNotifier* MessageNotifier = nullptr;
    bool Terminating = false;
    bool Terminated = false;
};

// After the message loop: the driver, then OwnRing and the mutex, then the
// window, whose destruction says goodbye to the emulator.
void ShutDown(std::unique_ptr<TTranDlg>& window, std::unique_ptr<platform::PortDriver>& driver,
              engine::VirtualLink* link);

} // namespace lodestrum::app
