// The watermark editor: text and bitmap layers of one conversion row laid
// over the row's playing source, each with a place on the frame, an opacity
// and a time range. OK writes the layers into the row's Watermarks.
//
// Threads: everything here runs on the user-interface thread except the
// player's hook, which copies the picture into FFrameSlot under
// FFrameLock and posts the frame handler to the user-interface thread.
#pragma once

#include "effects/EditSettings.h"
#include "media/Bitmap24.h"

#include <QDialog>
#include <QGraphicsPixmapItem>
#include <QImage>
#include <QStyledItemDelegate>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QFontComboBox;
class QGraphicsRectItem;
class QGraphicsScene;
class QGraphicsView;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QSlider;
class QToolButton;
class TCustomPlayer;
class TFFPlayer;
class TPlayerSurface;
class TPreviewController;
class TTrackBar2;

// One layer on the editor's view. Tag is the layer's kind; a mouse press
// selects it, a drag moves it.
class TWmLayerItem : public QGraphicsPixmapItem {
public:
    explicit TWmLayerItem(int tag);
    int Tag() const { return FTag; }
    std::function<void(TWmLayerItem*)> OnMouseDown;
    std::function<void(TWmLayerItem*)> OnMoved;

protected:
    void mousePressEvent(QGraphicsSceneMouseEvent* event) override;
    QVariant itemChange(GraphicsItemChange change, const QVariant& value) override;

private:
    int FTag;
};

// The editor's working object for one layer: the stored fields and the
// layer that shows it.
struct TWmItemRec {
    TWmRec Rec;
    TWmLayerItem* Layer = nullptr; // owned by the scene
    // An image layer whose file could not be read: it shows a frame of its
    // stored size, and OK keeps that size.
    bool PictureMissing = false;
};

// Draws the entries of the layer list: colours, kind icon, elided text.
class TWmListDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
};

class TfrmWaterMark : public QDialog {
    Q_OBJECT
    // The control builder sets up the view's scene as well.
    friend class TWaterMarkControls;

public:
    // `row` is the row being edited (nullptr: the main list is empty);
    // `mute` the sound setting; `libraryFolder` where the media libraries
    // are loaded from.
    TfrmWaterMark(TlvFilesRecord* row, bool mute, std::string libraryFolder,
                  QWidget* parent = nullptr);
    ~TfrmWaterMark() override;

    // Lets tests pick the bitmap without the file dialog (empty: cancelled).
    using TFileChooser = std::function<std::string()>;
    void SetImageChooser(TFileChooser chooser) { FImageChooser = std::move(chooser); }

    // Opening: fills the boxes, opens the row's source in the player.
    void FormShow();
    bool FileOpened() const { return FFileOpened; }
    // Frames shown in the view so far (tests wait for them).
    int FramesShown() const { return FFramesShown; }
    // The time of the frame the view shows, microseconds.
    int64_t ShownTime() const { return FShownTime; }
    int LayerCount() const { return static_cast<int>(FItems.size()); }
    const TWmItemRec& Item(int index) const { return FItems[index]; }
    TWmLayerItem* SelectedLayer() const { return FSelected; }
    // Where a point of the frame lies on the view widget.
    QPoint FrameToView(const QPointF& framePoint) const;
    // The source is open in the editor's player (playing or paused).
    bool PlayerOpen() const;

    void btnAddTextClick();
    void btnAddImageClick();
    void btnDeleteClick();
    void btnUpClick();
    void btnDownClick();
    void btnOkClick();
    void btnCancelClick();
    void btnHelpClick();
    void imgbtnPlayClick();
    void imgbtnpauseClick();
    void lsboxClick();
    void lsboxDblClick();

    // Controls (names as the window's design has them).
    QLabel* lblTitle = nullptr;
    QPushButton *btnAddText = nullptr, *btnAddImage = nullptr, *btnDelete = nullptr;
    QPushButton *btnUp = nullptr, *btnDown = nullptr;
    QListWidget* lsbox = nullptr;
    QLineEdit* edt1 = nullptr;
    QSlider *trcTextHoriz = nullptr, *trcTextVert = nullptr, *trcTextTran = nullptr;
    QLineEdit *edtTextHoriz = nullptr, *edtTextVert = nullptr, *edtTextTran = nullptr;
    TTrackBar2* trcRange = nullptr;
    QLineEdit *edtStart = nullptr, *edtEnd = nullptr;
    QToolButton *btnStartUp1 = nullptr, *btnStartUpStartDown = nullptr;
    QToolButton *btnStartUpEndUp = nullptr, *btnStartUpEndDown = nullptr;
    QRadioButton *rb1 = nullptr, *rb2 = nullptr;
    QComboBox *suiColorBoxbackground = nullptr, *suiColorBoxcmb = nullptr;
    QFontComboBox* suiFontCmb = nullptr;
    QComboBox* suiFontSizeCmb = nullptr;
    QCheckBox *suiChkBold = nullptr, *suiChkItalic = nullptr, *suiChkUnderline = nullptr,
              *suiChkStrikeOut = nullptr;
    QGraphicsView* ImgView = nullptr;
    TPlayerSurface* imgPreview = nullptr;
    QToolButton *imgbtnPlay = nullptr, *imgbtnpause = nullptr;
    TTrackBar2* trcPreview = nullptr;
    QLabel *lblTime = nullptr, *lblPTS = nullptr;
    QPushButton *btnOk = nullptr, *btnCancel = nullptr, *btnHelp = nullptr;
    QToolButton* btnClose = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    // Every way out (OK, Cancel, Esc, closing) stops the player first.
    void done(int result) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Connect();
    void ConnectAttributes();
    void EnableLayerControls();
    void SetPositionControlsEnabled(bool enabled);
    void SetTextControlsEnabled(bool enabled);

    void FFPlayerFileOpen(int64_t duration, int frameWidth, int frameHeight, int& screenWidth,
                          int& screenHeight);
    void FFPlayerHook(Bitmap24& bitmap, int64_t pts);
    void FFPlayerState(int state);
    void ShowFrame();
    void FitView();

    void LoadLayers();
    void LoadImageLayer(TWmItemRec& item);
    void SetAddingEnabled(bool enabled);
    TWmLayerItem* NewLayer(int tag, const QImage& picture, const QPointF& topLeft, int alpha);
    QPointF ViewCentre() const;
    QPointF CentredTopLeft(const QImage& picture) const;
    void AppendItem(TWmItemRec&& item);
    void SelectLayer(TWmLayerItem* layer);
    int IndexOfLayer(const TWmLayerItem* layer) const;
    void ShowItemControls(int index);
    void LayerMoved(TWmLayerItem* layer);
    void RedrawText();
    TWmFont BoxFont() const;
    void AttributeChanged(const std::function<void(TWmItemRec&)>& change);
    void Reorder(int from, int to);
    void RestackLayers();
    void RangeChanged();
    void StopPlayer();
    void edt1Changed(const QString& text);
    void trcPreviewMouse(int x, bool press);

    TlvFilesRecord* FRow;
    bool FMute;
    std::string FLibraryFolder;
    TFileChooser FImageChooser;
    std::unique_ptr<TFFPlayer> FFPlayer;
    // The player row: the duration in microseconds, the drag.
    std::unique_ptr<TPreviewController> FPreview;

    QGraphicsScene* FScene = nullptr;
    QGraphicsPixmapItem* FBackground = nullptr;
    QGraphicsRectItem* FSelectionFrame = nullptr; // created on first use
    TWmLayerItem* FSelected = nullptr;
    std::vector<TWmItemRec> FItems; // list order = drawing order
    int FEditIndex = -1;            // the entry edt1 edits
    int FFrameWidth = 0, FFrameHeight = 0;
    bool FFileOpened = false;
    bool FShown = false;
    bool FUpdating = false; // controls being filled from a layer
    int FFramesShown = 0;
    int64_t FShownTime = 0;
    QImage FLastFrame; // a copy of the last frame shown

    std::mutex FFrameLock; // guards FFrameSlot and FFrameSlotTime
    Bitmap24 FFrameSlot;
    int64_t FFrameSlotTime = 0;
    std::atomic<bool> FFramePending{false};
};

// The colours the colour boxes offer, in order (red in the lowest byte).
const std::vector<std::pair<const char*, uint32_t>>& WmColorBoxColors();
