// The main window: title row, menu row, tool row, conversion list, preview
// panel, format chooser and output folder.
#pragma once

#include "app/ConversionList.h"
#include "app/FormatChooser.h"
#include "app/PreviewController.h"
#include "app/Skin.h"
#include "app/core/AddQueue.h"
#include "app/core/ListStore.h"
#include "app/core/LoudnessPlan.h"
#include "app/core/TargetSizePlan.h"
#include "app/core/OptionBuilder.h"

#include <QElapsedTimer>
#include <QImage>
#include <QMenu>
#include <QWidget>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

class QComboBox;
class QFileDialog;
class QFrame;
class QLabel;
class QLineEdit;
class QPainter;
class QPlainTextEdit;
class QPushButton;
class QTimer;
class QTreeWidget;
class TGlobalObject;
class TCustomPlayer;
class TFFPlayer;
class TPlayerSurface;
class TTrackBar2;
class TfrmAbout;
class TfrmSettings;
class TfmDirectory;
class TfrmFileInfo;
class TfrmWaterMark;
class TfrmPreference;
class TfrmTrim;
class TFFmpegVCL;
class TCustomFFmpegVCL;
class TAVProbe;
class TfrmProgress;
class TLayerImageCache;
class TfrmCrop;
struct TProgressInfo;
struct TPreviewInfo;
struct TTerminateInfo;
struct THookInfo;

// A pop-up menu of the menu row. `Tag` is 1 after the menu was dismissed by
// a click on its own button: that click must not open it again.
class TPopupMenu : public QMenu {
    Q_OBJECT
public:
    TPopupMenu(const QString& objectName, QWidget* parent);
    int Tag = 0;
    // When the menu last closed, on the main window's clock (ms).
    qint64 ClosedAt = -1000000;
};

class TfrmMain : public QWidget {
    Q_OBJECT
public:
    explicit TfrmMain(QWidget* parent = nullptr);
    ~TfrmMain() override;

    // Lets tests and other callers choose the output folder without a dialog.
    using TFolderChooser = std::function<std::string(const std::string& startFolder)>;
    void SetFolderChooser(TFolderChooser chooser) { folderChooser_ = std::move(chooser); }
    // Lets tests choose the files to add without the file dialog.
    using TFilesChooser = std::function<std::vector<std::string>()>;
    void SetFilesChooser(TFilesChooser chooser) { filesChooser_ = std::move(chooser); }

    TGlobalObject& Global() { return *GlobalObject; }
    TFormatChooser& Chooser() { return *chooser_; }

    // Event handlers.
    void FormCreate();
    void FormShow();
    bool FormCloseQuery();
    bool ApplicationEvents1Message(QObject* receiver, QEvent* event);
    void ApplicationEvents1Deactivate();
    void btnSmallClick();
    void btnCloseClick();
    void btnExitClick();
    void menubtnFileClick();
    void menubtnEditClick();
    void menubtnHelpClick();
    void btnEditClick();
    void suiPopupMenuEditPopup();
    void Help1Click();
    void SupportandContact1Click();
    void About1Click();
    void menubtnWebsiteClick();
    void imgbtnfcClick();
    void imgbtngoogleClick();
    void imgbtntwClick();
    void imgbtndeliciousClick();
    void imgbtndiggClick();
    void imgbtnstumbleuponClick();
    void imgbtnredditClick();
    void Crop2Click();
    void Trim1Click();
    void WaterMark1Click();
    void Infomation1Click();
    void btnSettingsClick();
    void btnOptionsClick();
    void menubtnPreferenceClick();
    void btnBrowsClick();
    void btnOpenClick();
    // Conversion list
    void btnAddClick();
    void btnRemoveClick();
    void btnClearClick();
    void lvFIlesClick();
    void lvFIlesDblClick();
    // Preview player
    void imgbtnPlayClick();
    void imgbtnPauseClick();
    void imgbtnStopClick();
    void imgbtnPreClick();
    void imgbtnNextClick();
    void imgbtnSnapClick();
    void imgbtnMuteMouseDown();
    void FFPlayerFileOpen(TCustomPlayer* Sender, int64_t ADuration, int AFrameWidth,
                          int AFrameHeight, int& AScreenWidth, int& AScreenHeight);
    void FFPlayerPosition(TCustomPlayer* Sender, int64_t APTS);
    void FFPlayerState(TCustomPlayer* Sender, int AState);
    void trcPreviewDrawTrack(TTrackBar2* Sender, QPainter& Canvas);
    void trcPreviewDrawThumb(TTrackBar2* Sender, QPainter& Canvas, int X, int Y);
    void trcPreviewMouseMove(TTrackBar2* Sender, Qt::MouseButtons Buttons, int X, int Y);
    void trcVolumeDrawTrack(TTrackBar2* Sender, QPainter& Canvas);
    void trcVolumeDrawThumb(TTrackBar2* Sender, QPainter& Canvas, int X, int Y);
    void trcVolumeMouseMove(TTrackBar2* Sender, Qt::MouseButtons Buttons, int X, int Y);
    void trcVolumeChange(TTrackBar2* Sender);
    // Batch
    void btnStartClick();
    void CCAVCProgress(TCustomFFmpegVCL* Sender, TProgressInfo* AProgressInfo);
    void CCAVCPreviewBitmap(TCustomFFmpegVCL* Sender, const TPreviewInfo& APreviewInfo);
    void CCAVCTerminate(TCustomFFmpegVCL* Sender, const TTerminateInfo& ATerminateInfo);
    // Worker thread: draws the row's effects and layers into the frame.
    void CCAVCCustomHook(TCustomFFmpegVCL* Sender, THookInfo* AHookInfo);

    // Percentage of a task: current * 100 div total, 0 without a total.
    static int ProgressPercent(int64_t current, int64_t total);
    // A source path as the progress window shows it: at most 50 characters
    // as it is, else its first 44, "..", and its extension.
    static QString ShortFileCaption(const QString& path);
    // Replaces the power-off request of "Shut down computer after
    // conversion" (tests must never power anything off).
    static void SetPowerOffCommand(std::function<void()> command);
    // "file: reason", unless the reason names the file already.
    static std::string FileReasonText(const std::string& file, const std::string& reason);
    // Adds files as the file dialog, a drop or the command line gives them;
    // returns when the add has ended (see winMainList.cpp).
    void AddFiles(const std::vector<std::string>& files);
    // Files named on the command line, or handed over by a later start of
    // the program: the window comes to the front and adds them as the Add
    // button does, as soon as no dialog or batch is in the way.
    void OpenFiles(const std::vector<std::string>& files);
    // Delete: removes every selected row (one row as Remove does).
    void RemoveSelectedRows();
    // An add is running: its rows are still coming.
    bool Adding() const;
    void btnStopAddingClick();
    // Probes one file for the list; safe on several threads at once.
    static TAddProbe ProbeForList(const std::string& file);
    // The open dialog as Add shows it.
    std::unique_ptr<QFileDialog> NewOpenDialog();

    // Opens `menu` at `pos` (screen coordinates) unless its tag says the click
    // only dismissed it; afterwards records whether `button` dismissed it.
    void PopupFromButton(TPopupMenu* menu, QWidget* button, const QPoint& pos);
    // The tag rule on its own: false (and the tag reset) when the click only
    // dismissed the menu, that is when its press is the one that closed it.
    static bool TakeOpeningClick(TPopupMenu* menu, bool pressClosedTheMenu);
    // Called when a menu opened from a button has closed.
    static void MenuClosed(TPopupMenu* menu, bool dismissedByItsButton);

    // Title row
    QLabel* imgIcon = nullptr;
    QLabel* lbl_appname = nullptr;
    skin::TImageButton* btnSmall = nullptr;
    skin::TImageButton* btnClose = nullptr;
    // Maximises the window, or restores it (winMainLayout.cpp).
    skin::TImageButton* btnMaximize = nullptr;
    void btnMaximizeClick();
    // Writes the window's size, place and maximised state to the settings.
    void StoreWindowPlace();
    // Menu row
    skin::TMenuRowButton* menubtnFile = nullptr;
    skin::TMenuRowButton* menubtnEdit = nullptr;
    skin::TMenuRowButton* menubtnPreference = nullptr;
    skin::TMenuRowButton* menubtnHelp = nullptr;
    skin::TMenuRowButton* menubtnWebsite = nullptr;
    // Tool row
    skin::TImageButton* btnAdd = nullptr;
    skin::TImageButton* btnRemove = nullptr;
    skin::TImageButton* btnClear = nullptr;
    skin::TImageButton* btnSettings = nullptr;
    skin::TImageButton* btnEdit = nullptr;
    skin::TImageButton* btnStart = nullptr;
    skin::TImageButton* imgbtnfc = nullptr;
    skin::TImageButton* imgbtngoogle = nullptr;
    skin::TImageButton* imgbtntw = nullptr;
    skin::TImageButton* imgbtndelicious = nullptr;
    skin::TImageButton* imgbtndigg = nullptr;
    skin::TImageButton* imgbtnstumbleupon = nullptr;
    skin::TImageButton* imgbtnreddit = nullptr;
    // Conversion list
    TFilesList* lvFIles = nullptr;
    // Shown while an add runs: "Adding 340 of 1,000 ..." and a Stop button.
    QFrame* pnlAdding = nullptr;
    QLabel* lblAdding = nullptr;
    QPushButton* btnStopAdding = nullptr;
    // Preview
    TPlayerSurface* pan1 = nullptr;
    QLabel* lblTime = nullptr;
    QLabel* lblPTS = nullptr;
    TTrackBar2* trcPreview = nullptr;
    skin::TImageButton* imgbtnPre = nullptr;
    skin::TImageButton* imgbtnPlay = nullptr;
    skin::TImageButton* imgbtnPause = nullptr;
    skin::TImageButton* imgbtnStop = nullptr;
    skin::TImageButton* imgbtnNext = nullptr;
    skin::TImageButton* imgbtnSnap = nullptr;
    skin::TImageButton* imgbtnMute = nullptr;
    TTrackBar2* trcVolume = nullptr;
    // Bottom rows
    TFormatEdit* edt1 = nullptr;
    skin::TImageButton* imgbtn1 = nullptr;
    QPushButton* btnOptions = nullptr;
    QLineEdit* edDirectory = nullptr;
    QPushButton* btnBrows = nullptr;
    QPushButton* btnOpen = nullptr;
    skin::TImageButton* btnStartBelow = nullptr;
    TFormatList* lst1 = nullptr;
    // Never shown
    QComboBox* cbOutputFormat = nullptr;
    QPlainTextEdit* mmoLog = nullptr;
    QPushButton* btnExit = nullptr;
    QPushButton* btnStop = nullptr;
    QPushButton* btnPause = nullptr;
    QPushButton* btnResume = nullptr;
    QLabel* imgPreview = nullptr;
    QLabel* imgPreviewTrack = nullptr;
    QLabel* imgVolumeTrack = nullptr;
    // Menus
    TPopupMenu* suiPopupMenuFile = nullptr;
    TPopupMenu* suiPopupMenuEdit = nullptr;
    TPopupMenu* suiPopupMenuHelp = nullptr;

    // Components
    std::unique_ptr<TFFmpegVCL> CCAVC;
    std::unique_ptr<TFFPlayer> FFPlayer;
    TAVProbe* CurrentProbe = nullptr;
    // A fresh one for every opening; the last one lives until the next.
    TfrmCrop* frmCrop = nullptr;
    // Created on the first batch, reused afterwards.
    TfrmProgress* frmProgress = nullptr;
    // Created on first use, reused afterwards.
    TfrmSettings* frmSettings = nullptr;
    // Created on first use, reused afterwards; one folder chooser serves
    // both Browse buttons.
    TfmDirectory* fmDirectory = nullptr;
    TfrmPreference* frmPreference = nullptr;
    TfrmFileInfo* frmFileInfo = nullptr;
    // Created with the window, shown again on every opening.
    TfrmTrim* frmTrim = nullptr;
    TfrmWaterMark* frmWaterMark = nullptr; // a fresh editor on each opening

    // Window state
    QImage PreviewBitmap;
    std::vector<int32_t> TaskItems;
    // The preview's player row; its pause and drag flags keep the window's
    // names, and it holds the duration of the file playing.
    std::unique_ptr<TPreviewController> Preview =
        std::make_unique<TPreviewController>(TPreviewKind::MainWindow);
    std::atomic<bool>& Paused = Preview->Paused;
    bool PlayAfterAdd = false;
    bool& SeekDragging = Preview->Dragging;
    bool Muted = false;
    TPlayerSurface* PlayerSurface = nullptr;
    int PreviewThumbX = 0, PreviewThumbY = 0, VolumeThumbX = 0, VolumeThumbY = 0;
    // Seeks asked of the player by dragging the position bar.
    int SeekCount = 0;
    // Pictures of the mute button: sound on, muted.
    QPixmap imglistVolumeMute[2];
    // The thumb of the position bar.
    QPixmap imglistpreViewTrack[1];

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    // Space and the arrow keys that no control of the window has used.
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // Growing with the window (winMainLayout.cpp). Extra pixels: across and
    // down, and the part of across that the list takes.
    struct TGrowth {
        int Across = 0, Down = 0, List = 0;
    };
    void CreateMaximizeButton();
    // Keeps every control's place in the designed size; the layout grows
    // them from there.
    void RecordDesignPlaces();
    QRect GrownPlace(const QWidget* widget, const QRect& design, const TGrowth& growth) const;
    void LayOutWindow();
    void FitPositionBar(int oldWidth);
    void RestoreWindowPlace();
    Qt::Edges EdgesAt(const QPoint& pos) const;
    // A press on the window's rim starts resizing; true when it did.
    bool StartEdgeResize(QMouseEvent* event);
    void CentreOnDesktop();
    // The folder the user picks for a Browse button, empty when none.
    std::string ChooseFolder(const std::string& shown);
    void LoadMediaLibraries();
    bool ConverterReady();
    std::vector<std::string> ChooseFiles();
    void ListBecameEmpty();
    void ReportSkippedFiles(const std::vector<std::string>& lines);
    void CreateAddProgress();
    void BeginAdd(const std::vector<std::string>& files);
    void DeliverAddedRows();
    void AddProbedFile(const TAddResult& result);
    void EndAdd();
    void ShowAddProgress();
    // The stored list: restored at start, written again after every change.
    void RestoreList();
    void ListChanged();
    void StoreListNow();
    std::vector<TStoredRow> ListRows() const;
    // What the batch tells the stored list: started, a row converted, ended.
    void StoreBatchStart();
    void StoreRowConverted(int row);
    void StoreBatchEnd();
    std::string OutputSuffix(int formatCode) const;
    std::set<std::string> DestinationNames() const;
    // Every row's "Destination File" for the format in use.
    void ShowDestinationNames();
    void ConnectConverter();
    void DetachConverter();
    void AddBatchTasks(int formatCode);
    void AddBatchTask(int row, int formatCode, std::set<std::string>& taken);
    std::string RowFailureText(int row, const std::string& reason) const;
    void ClearCheckedProgress();
    void EndOfBatch();
    void TaskFinished(int taskIndex);
    void TaskEnded(const TTerminateInfo& info);
    // A task stopped by the user's cancel (winMainCancel.cpp).
    void TaskCutShort(const TTerminateInfo& info);
    void RunEndActions();
    void ShowTaskProgress(const TProgressInfo& info);
    void SetListButtonsEnabled(bool enabled);
    // The passes before the conversion (winMainLoudness.cpp): loudness
    // measuring and the first video passes of a target size. The first
    // pass's tasks (or the conversion when there is nothing to prepare),
    // one row's preparing tasks, their reports, and the conversion after.
    bool Preparing() const { return loudness_.Measuring() || sizes_.FirstPassing(); }
    void AddFirstPassTasks(int formatCode, int loudnessTarget, double targetSizeMB);
    void AddPreparingTasks(int row, const TInputOptions& in, const TOutputOptions& out);
    void PlanRowSize(int row, const TInputOptions& in, const TOutputOptions& out);
    void ShowPreparingProgress(const TProgressInfo& info);
    void PreparingTaskEnded(const TTerminateInfo& info);
    bool StartConversionPass();
    // Makes the layer cache, or empties it for a new batch.
    void ResetHookCache();

    void RunMenu(TPopupMenu* menu, QWidget* button, const QPoint& pos);
    void CreateTitleRow();
    void CreateMenuRow();
    void CreateToolRow();
    void CreateShareButtons();
    void CreateListAndPreview();
    // The preview panel (winMainPreview.cpp).
    void CreatePreviewPanel();
    void CreatePlayerButtons();
    void CreatePreviewPictures();
    void ConnectPreview();
    // Handles the preview's part of the application's mouse events; true
    // when the event is used up.
    bool PreviewMessage(QWidget* widget, QEvent* event);
    // Space plays or pauses, Left and Right seek; true when the key was used.
    bool PreviewKey(int key);
    void UpdatePreNextEnabling();
    // Opens the selected row in the player (step 6 of Play).
    void PlaySelectedRow();
    void PlayRow(int row);
    void ShowPlayerStopped();
    void SeekBy(int64_t microseconds);
    void FinishSeekDrag();
    void CreateBottomRows();
    void CreateHiddenControls();
    void CreateMenus();
    // Keys of the window (Ctrl+O, Delete, Ctrl+A, Ctrl+Return, F1, Ctrl+Q).
    void CreateShortcuts();
    void ConnectHandlers();
    void AddPendingFiles();
    void FillOutputFormatCombo();
    void ShowVolumeAndMute();
    void SetEditItemsEnabled(bool enabled);
    std::string StoredFormatName() const;
    void PickFormat(const std::string& caption, int code);

    std::unique_ptr<TGlobalObject> GlobalObject;
    std::vector<std::pair<QWidget*, QRect>> designPlaces_;
    QPixmap designTrack_;
    int designPositionBarWidth_ = 0;
    TFormatChooser* chooser_ = nullptr;
    TfrmAbout* frmAbout_ = nullptr;
    TFolderChooser folderChooser_;
    TFilesChooser filesChooser_;
    // Files of OpenFiles() not added yet; retried by `pendingTimer_`.
    std::vector<std::string> pendingFiles_;
    QTimer* pendingTimer_ = nullptr;
    bool closeConfirmed_ = false;
    // Counts presses on the position bar, so that the end of an old drag's
    // settling time leaves a new drag alone; set while it settles.
    int seekDrag_ = 0;
    bool seekSettling_ = false;
    // The row whose source the player has open (playing, paused, or waiting
    // at its start after the end), none when the player is closed. Only
    // compared, never followed: it is cleared whenever the player closes.
    const QTreeWidgetItem* playerRow_ = nullptr;
    // Items of the Edit menu that need a selected row.
    std::vector<QAction*> editRowActions_;
    // Last left press on each menu button, on `clock_` (ms).
    QElapsedTimer clock_;
    std::map<QWidget*, qint64> lastMenuButtonPress_;
    // Layer pictures of the running batch; used by the hook on the worker.
    std::unique_ptr<TLayerImageCache> hookCache_;
    // The record of every row, by row index, as the batch started.
    std::vector<const TlvFilesRecord*> rowRecords_;
    // Task reports of the running batch (main thread): how many tasks have
    // ended, and whether the last task finished. The end actions wait for
    // both, as with several tasks at a time the last task need not end last.
    std::size_t tasksEnded_ = 0;
    bool lastTaskFinished_ = false;
    // The batch's loudness passes and its format (main thread).
    TLoudnessPlan loudness_;
    TTargetSizePlan sizes_;
    int batchFormat_ = 0;
    // The preparing tasks: each one's row and caption, and whether one of
    // them was stopped (the conversion does not follow then).
    std::vector<std::pair<int, QString>> preparing_;
    bool preparingStopped_ = false;
    // With several tasks at a time, the task whose pictures the preview
    // shows until it ends (-1: the next task that sends one), so that tasks
    // running side by side do not take turns in it.
    int previewTask_ = -1;
    // What the last source the probe could open said of itself: a source it
    // cannot open is named and built from these.
    struct TLastProbed {
        std::string FileName;
        std::string FormatName;
        TProbedSource Source;
    } lastProbed_;
    // The add that runs, if any: its probes, and what its rows need. Used on
    // the user-interface thread only; the queue has its own lock.
    struct TAddRun {
        TAddRun(TAddProber prober, std::set<std::string> listed)
            : Queue(std::move(prober), TAddQueue::DefaultThreadCount(), std::move(listed)) {}
        TAddQueue Queue;
        std::string Suffix, Zoom;
        std::set<std::string> Taken;
        std::vector<std::string> Skipped;
    };
    std::shared_ptr<TAddRun> adding_;
    std::unique_ptr<TListStore> listStore_;
    // Coalesces the changes of the list into one store a little later.
    QTimer* listStoreTimer_ = nullptr;
    // A batch runs: the stored list says so, and which rows it converted.
    bool batchStored_ = false;
    std::string lastStoreError_;
    // Expires with the window: queued reports check it before they run.
    std::shared_ptr<char> alive_ = std::make_shared<char>();
};
