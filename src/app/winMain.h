// The main window: title row, menu row, tool row, conversion list, preview
// panel, format chooser and output folder.
#pragma once

#include "app/ConversionList.h"
#include "app/FormatChooser.h"
#include "app/PreviewController.h"
#include "app/Skin.h"
#include "core/AddQueue.h"
#include "core/ListStore.h"
#include "core/OptionBuilder.h"

#include <QImage>
#include <QMenu>
#include <QWidget>
#include <functional>
#include <memory>
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
class TMainBatch;
class TMainLayout;
class TMainFrame;
class TListKeeper;
class TfrmCrop;
class TMainAdd;
class TMainMenus;
class TMainPreview;
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
    // The batch works on the list, the buttons and the stored list; the
    // layout places the controls that the control builder made; the add
    // driver, the preview and the menus do the work of the window's handlers.
    friend class TMainBatch;
    friend class TMainLayout;
    friend class TMainFrame;
    friend class TMainAdd;
    friend class TMainControls;
    friend class TMainMenus;
    friend class TMainPreview;

public:
    explicit TfrmMain(QWidget* parent = nullptr);
    ~TfrmMain() override;

    // Lets tests and other callers choose the output folder without a dialog.
    using TFolderChooser = std::function<std::string(const std::string& startFolder)>;
    void SetFolderChooser(TFolderChooser chooser) { FFolderChooser = std::move(chooser); }
    // The add driver (MainAdd.h): tests add files and choose them through it.
    TMainAdd& Add() { return *FAdd; }
    TGlobalObject& Global() { return *GlobalObject; }
    TFormatChooser& Chooser() { return *FChooser; }

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
    // A progress report of the converter, as the batch runner takes it.
    void CCAVCProgress(TCustomFFmpegVCL* Sender, TProgressInfo* AProgressInfo);

    // Files named on the command line, or handed over by a later start of
    // the program: the window comes to the front and adds them as the Add
    // button does, as soon as no dialog or batch is in the way.
    void OpenFiles(const std::vector<std::string>& files);

    // Title row
    QLabel* imgIcon = nullptr;
    QLabel* lbl_appname = nullptr;
    skin::TImageButton* btnSmall = nullptr;
    skin::TImageButton* btnClose = nullptr;
    // Maximises the window, or restores it (MainLayout.h).
    skin::TImageButton* btnMaximize = nullptr;
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
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::unique_ptr<TGlobalObject> GlobalObject;
    // Sizes and places (MainLayout.h); the frame's mouse handling
    // (MainFrame.h), a child of the window.
    std::unique_ptr<TMainLayout> FLayout;
    TMainFrame* FFrame = nullptr;
    TFormatChooser* FChooser = nullptr;
    TFolderChooser FFolderChooser;
    bool FCloseConfirmed = false;
    // The add driver, the preview panel and the menus (MainAdd.h,
    // MainPreview.h, MainMenus.h).
    std::unique_ptr<TMainAdd> FAdd;
    std::unique_ptr<TMainPreview> FPreview;
    std::unique_ptr<TMainMenus> FMenus;
    // The batch (after the converter it binds, gone before it).
    std::unique_ptr<TMainBatch> FBatch;
    std::unique_ptr<TListKeeper> FListKeeper;
};
