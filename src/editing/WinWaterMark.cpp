#include "editing/WinWaterMark.h"

#include "app/PlayerSurface.h"
#include "app/PreviewController.h"
#include "app/Shell.h"
#include "core/FormatSeconds.h"
#include "core/MessageSeam.h"
#include "controls/Tracker2.h"
#include "editing/FrameRenderer.h"
#include "editing/LayerPictures.h"
#include "editing/WaterMarkControls.h"
#include "player/FFPlay.h"

#include <QTimer>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QFontComboBox>
#include <QFontMetrics>
#include <QGraphicsRectItem>
#include <QGraphicsScene>
#include <QGraphicsSceneMouseEvent>
#include <QGraphicsView>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QAbstractItemView>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QStyle>
#include <QToolButton>

#include <algorithm>
#include <cmath>
#include <tuple>

namespace {

// The pictures Add Image takes; PNG keeps its transparency.
const char* const kPictureFilter =
    "Pictures (*.png *.jpg *.jpeg *.bmp);;PNG pictures (*.png);;JPEG pictures (*.jpg *.jpeg);;"
    "Bitmap files (*.bmp);;All files (*)";

} // namespace

namespace {

const char* const kHelpPage = "https://www.vantrel.org/help/watermark.html";
constexpr int kDefaultSizeIndex = 19; // 26 points
constexpr int kDefaultFontColor = 12; // blue
constexpr int kDefaultBackColor = 2;  // green
constexpr int kDefaultOpacity = 125;
constexpr int kPreviewThumbHalf = 6; // half the thumb picture's width
constexpr qreal kFrameZ = 1e6;

QString TimeText(int64_t seconds) {
    return QString::fromStdString(FormatSeconds(seconds));
}

QPixmap Swatch(const QColor& colour) {
    QPixmap pixmap(14, 14);
    pixmap.fill(colour);
    return pixmap;
}

uint32_t BoxColor(const QComboBox* box) {
    return box->currentData().value<uint32_t>();
}

void SetBoxColor(QComboBox* box, uint32_t colour) {
    int index = box->findData(QVariant::fromValue(colour));
    if (index < 0) {
        box->addItem(QIcon(Swatch(ResolveColor(colour))), "Custom", QVariant::fromValue(colour));
        index = box->count() - 1;
    }
    box->setCurrentIndex(index);
}

} // namespace

const std::vector<std::pair<const char*, uint32_t>>& WmColorBoxColors() {
    static const std::vector<std::pair<const char*, uint32_t>> colours = {
        {"Black", 0x000000},
        {"Maroon", 0x000080},
        {"Green", 0x008000},
        {"Olive", 0x008080},
        {"Navy", 0x800000},
        {"Purple", 0x800080},
        {"Teal", 0x808000},
        {"Gray", 0x808080},
        {"Silver", 0xC0C0C0},
        {"Red", 0x0000FF},
        {"Lime", 0x00FF00},
        {"Yellow", 0x00FFFF},
        {"Blue", 0xFF0000},
        {"Fuchsia", 0xFF00FF},
        {"Aqua", 0xFFFF00},
        {"White", 0xFFFFFF},
        {"Money Green", 0xC0DCC0},
        {"Sky Blue", 0xF0CAA6},
        {"Cream", 0xF0FBFF},
        {"Medium Gray", 0xA4A0A0},
        {"Window", 0x80000005},
        {"Window Text", 0x80000008},
        {"Button Face", 0x8000000F},
        {"Highlight", 0x8000000D},
        {"Highlight Text", 0x8000000E}};
    return colours;
}

// ---------------------------------------------------------------------------
// Layer items and the list's drawing

TWmLayerItem::TWmLayerItem(int tag) : FTag(tag) {
    setFlags(ItemIsMovable | ItemSendsGeometryChanges);
    setTransformationMode(Qt::FastTransformation);
}

void TWmLayerItem::mousePressEvent(QGraphicsSceneMouseEvent* event) {
    if (OnMouseDown) OnMouseDown(this);
    QGraphicsPixmapItem::mousePressEvent(event);
}

QVariant TWmLayerItem::itemChange(GraphicsItemChange change, const QVariant& value) {
    // Layers sit on whole frame pixels, as they are stored.
    if (change == ItemPositionChange) {
        const QPointF p = value.toPointF();
        return QPointF(std::round(p.x()), std::round(p.y()));
    }
    if (change == ItemPositionHasChanged && OnMoved) OnMoved(this);
    return QGraphicsPixmapItem::itemChange(change, value);
}

void TWmListDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                            const QModelIndex& index) const {
    const bool selected = option.state & QStyle::State_Selected;
    const QRect r = option.rect;
    painter->save();
    painter->fillRect(r, selected ? ResolveColor(15518905) : ResolveColor(16316406));
    if (selected) {
        painter->setPen(ResolveColor(14327930));
        painter->drawRect(r.adjusted(0, 0, -1, -1));
    }
    const QIcon icon = index.data(Qt::DecorationRole).value<QIcon>();
    icon.paint(painter, QRect(r.left() + 1, r.top() + (r.height() - 16) / 2, 16, 16));
    painter->setPen(Qt::black);
    const QRect textArea = r.adjusted(19, 0, -2, 0);
    const QString text =
        option.fontMetrics.elidedText(index.data().toString(), Qt::ElideRight, textArea.width());
    painter->drawText(textArea, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
    painter->restore();
}

// ---------------------------------------------------------------------------
// Creation

TfrmWaterMark::TfrmWaterMark(TlvFilesRecord* row, bool mute, std::string libraryFolder,
                             QWidget* parent)
    : QDialog(parent), FRow(row), FMute(mute), FLibraryFolder(std::move(libraryFolder)),
      FFPlayer(std::make_unique<TFFPlayer>()) {
    setObjectName("frmWaterMark");
    setWindowTitle("Water Mark");
    setAccessibleName("Water Mark");
    setFixedSize(1000, 560);
    TWaterMarkControls controls(*this);
    controls.CreateViewSide();
    FPreview = std::make_unique<TPreviewController>(
        TPreviewKind::WaterMark,
        TPreviewParts{imgbtnPlay, imgbtnpause, nullptr, nullptr, trcPreview, lblTime, lblPTS},
        FFPlayer.get());
    controls.CreateLayerSide();
    Connect();
    ConnectAttributes();
    // Layers are placed on the source's frames: none can be added before
    // the source is open.
    SetAddingEnabled(false);
}

TfrmWaterMark::~TfrmWaterMark() {
    StopPlayer();
}

// ---------------------------------------------------------------------------
// Wiring

void TfrmWaterMark::Connect() {
    connect(btnAddText, &QPushButton::clicked, this, &TfrmWaterMark::btnAddTextClick);
    connect(btnAddImage, &QPushButton::clicked, this, &TfrmWaterMark::btnAddImageClick);
    connect(btnDelete, &QPushButton::clicked, this, &TfrmWaterMark::btnDeleteClick);
    connect(btnUp, &QPushButton::clicked, this, &TfrmWaterMark::btnUpClick);
    connect(btnDown, &QPushButton::clicked, this, &TfrmWaterMark::btnDownClick);
    connect(btnOk, &QPushButton::clicked, this, &TfrmWaterMark::btnOkClick);
    connect(btnCancel, &QPushButton::clicked, this, &TfrmWaterMark::btnCancelClick);
    connect(btnHelp, &QPushButton::clicked, this, &TfrmWaterMark::btnHelpClick);
    connect(btnClose, &QToolButton::clicked, this, &QWidget::close);
    connect(imgbtnPlay, &QToolButton::clicked, this, &TfrmWaterMark::imgbtnPlayClick);
    connect(imgbtnpause, &QToolButton::clicked, this, &TfrmWaterMark::imgbtnpauseClick);
    connect(lsbox, &QListWidget::itemClicked, this, [this] { lsboxClick(); });
    connect(lsbox, &QListWidget::itemDoubleClicked, this, [this] { lsboxDblClick(); });
    connect(edt1, &QLineEdit::textEdited, this, &TfrmWaterMark::edt1Changed);
    connect(trcTextHoriz, &QSlider::valueChanged, this, [this](int v) {
        edtTextHoriz->setText(QString::number(v));
        if (FUpdating || !FSelected) return;
        const int left = static_cast<int>(std::lround(FSelected->x()));
        if (left < trcTextHoriz->minimum() || left > trcTextHoriz->maximum()) return;
        FSelected->setX(v);
    });
    connect(trcTextVert, &QSlider::valueChanged, this, [this](int v) {
        edtTextVert->setText(QString::number(v));
        if (FUpdating || !FSelected) return;
        const int top = static_cast<int>(std::lround(FSelected->y()));
        if (top < trcTextVert->minimum() || top > trcTextVert->maximum()) return;
        FSelected->setY(v);
    });
    connect(trcTextTran, &QSlider::valueChanged, this, [this](int v) {
        edtTextTran->setText(QString::number(v));
        if (FSelected) FSelected->setOpacity(v / 255.0);
    });
    trcRange->OnChange = [this](TTrackBar2*) { RangeChanged(); };
    connect(btnStartUp1, &QToolButton::clicked, this,
            [this] { trcRange->SetPositionL(trcRange->PositionL() + 1); });
    connect(btnStartUpStartDown, &QToolButton::clicked, this,
            [this] { trcRange->SetPositionL(trcRange->PositionL() - 1); });
    connect(btnStartUpEndUp, &QToolButton::clicked, this,
            [this] { trcRange->SetPositionU(trcRange->PositionU() + 1); });
    connect(btnStartUpEndDown, &QToolButton::clicked, this,
            [this] { trcRange->SetPositionU(trcRange->PositionU() - 1); });
    trcPreview->OnMouseDown = [this](TTrackBar2*, Qt::MouseButton b, Qt::KeyboardModifiers, int x,
                                     int) {
        if (b == Qt::LeftButton) trcPreviewMouse(x, true);
    };
    trcPreview->OnMouseMove = [this](TTrackBar2*, Qt::MouseButtons b, Qt::KeyboardModifiers, int x,
                                     int) {
        if (b & Qt::LeftButton) trcPreviewMouse(x, false);
    };
    FFPlayer->OnFileOpen = [this](TCustomPlayer*, int64_t d, int w, int h, int& sw, int& sh) {
        FFPlayerFileOpen(d, w, h, sw, sh);
    };
    FFPlayer->OnHook = [this](TCustomPlayer*, Bitmap24& b, int64_t pts) { FFPlayerHook(b, pts); };
    FFPlayer->OnState = [this](TCustomPlayer*, TPlayState s) { FFPlayerState(s); };
}

void TfrmWaterMark::ConnectAttributes() {
    connect(suiFontCmb, &QFontComboBox::currentFontChanged, this,
            [this] { AttributeChanged([](TWmItemRec&) {}); });
    connect(suiFontSizeCmb, &QComboBox::currentIndexChanged, this, [this] {
        AttributeChanged([](TWmItemRec&) {});
        if (FSelected && !FUpdating) FSelected->setX(trcTextHoriz->value());
    });
    connect(suiColorBoxcmb, &QComboBox::currentIndexChanged, this, [this] {
        AttributeChanged([this](TWmItemRec& e) {
            if (e.Rec.Font) e.Rec.Font->Color = BoxColor(suiColorBoxcmb);
        });
    });
    connect(suiColorBoxbackground, &QComboBox::currentIndexChanged, this, [this] {
        AttributeChanged(
            [this](TWmItemRec& e) { e.Rec.BackColor = BoxColor(suiColorBoxbackground); });
    });
    connect(rb1, &QRadioButton::toggled, this, [this](bool on) {
        suiColorBoxbackground->setEnabled(on && rb1->isEnabled());
        AttributeChanged([on](TWmItemRec& e) { e.Rec.UseBackColor = on; });
    });
    const std::pair<QCheckBox*, uint32_t> styles[] = {{suiChkBold, fsBold},
                                                      {suiChkItalic, fsItalic},
                                                      {suiChkUnderline, fsUnderline},
                                                      {suiChkStrikeOut, fsStrikeOut}};
    for (const auto& [box, bit] : styles)
        connect(box, &QCheckBox::toggled, this, [this, bit](bool on) {
            AttributeChanged([bit, on](TWmItemRec& e) {
                if (!e.Rec.Font) return;
                e.Rec.Font->Style = on ? (e.Rec.Font->Style | bit) : (e.Rec.Font->Style & ~bit);
            });
        });
}

void TfrmWaterMark::EnableLayerControls() {
    const bool any = !FItems.empty();
    for (QWidget* w : std::initializer_list<QWidget*>{trcTextHoriz,
                                                      edtTextHoriz,
                                                      trcTextVert,
                                                      edtTextVert,
                                                      trcTextTran,
                                                      edtTextTran,
                                                      trcRange,
                                                      edtStart,
                                                      edtEnd,
                                                      btnStartUp1,
                                                      btnStartUpStartDown,
                                                      btnStartUpEndUp,
                                                      btnStartUpEndDown,
                                                      rb1,
                                                      rb2,
                                                      suiColorBoxbackground,
                                                      suiColorBoxcmb,
                                                      suiFontCmb,
                                                      suiFontSizeCmb,
                                                      suiChkBold,
                                                      suiChkItalic,
                                                      suiChkUnderline,
                                                      suiChkStrikeOut})
        w->setEnabled(any);
    if (any) suiColorBoxbackground->setEnabled(rb1->isChecked());
}

void TfrmWaterMark::SetPositionControlsEnabled(bool enabled) {
    trcTextHoriz->setEnabled(enabled);
    trcTextVert->setEnabled(enabled);
}

void TfrmWaterMark::SetTextControlsEnabled(bool enabled) {
    for (QWidget* w : std::initializer_list<QWidget*>{rb1, rb2, suiColorBoxcmb, suiFontCmb,
                                                      suiFontSizeCmb, suiChkBold, suiChkItalic,
                                                      suiChkUnderline, suiChkStrikeOut})
        w->setEnabled(enabled);
    suiColorBoxbackground->setEnabled(enabled && rb1->isChecked());
}

// ---------------------------------------------------------------------------
// Opening and the player

// The source opens once the dialog's own event loop runs: opening services
// events while it waits, and an OK or Cancel taken then must end that loop
// (one taken before exec() has entered it would leave a hidden modal dialog
// that never returns).
void TfrmWaterMark::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (FShown) return;
    FShown = true;
    QTimer::singleShot(0, this, [this] {
        if (isVisible()) FormShow();
    });
}

void TfrmWaterMark::FormShow() {
    FScene->clear();
    FBackground = FScene->addPixmap(QPixmap());
    FBackground->setZValue(-1);
    FSelectionFrame = nullptr;
    FSelected = nullptr;
    FItems.clear();
    lsbox->clear();
    FUpdating = true;
    trcTextHoriz->setRange(0, 100);
    trcTextVert->setRange(0, 100);
    if (FRow && suiFontSizeCmb->count() == 0)
        for (int size = 7; size <= 70; ++size)
            suiFontSizeCmb->addItem(QString::number(size));
    suiFontCmb->setCurrentIndex(0);
    suiFontSizeCmb->setCurrentIndex(std::min(kDefaultSizeIndex, suiFontSizeCmb->count() - 1));
    suiColorBoxcmb->setCurrentIndex(kDefaultFontColor);
    suiColorBoxbackground->setCurrentIndex(kDefaultBackColor);
    trcTextTran->setValue(kDefaultOpacity);
    edtTextTran->setText(QString::number(kDefaultOpacity));
    rb1->setChecked(true);
    FUpdating = false;
    EnableLayerControls();
    SetAddingEnabled(false);
    if (!FRow) return;
    if (!FFPlayer->LibrariesLoaded() && !FFPlayer->LoadLibraries(FLibraryFolder)) return;
    FFPlayer->Mute = FMute;
    if (FFPlayer->Open(FRow->SourceFile, imgPreview, false)) {
        FPreview->SetButtons(false, true, true);
        trcPreview->setEnabled(true);
    }
}

void TfrmWaterMark::FFPlayerFileOpen(int64_t duration, int frameWidth, int frameHeight,
                                     int& screenWidth, int& screenHeight) {
    screenWidth = imgPreview->width();
    screenHeight = imgPreview->height();
    FFPlayer->Hook = false;
    FFrameWidth = frameWidth;
    FFrameHeight = frameHeight;
    FPreview->ShowLength(duration);
    FUpdating = true;
    trcRange->SetMin(0);
    trcRange->SetMax(static_cast<int>(duration / 1000000));
    trcRange->SetPositionL(0);
    trcRange->SetPositionU(trcRange->Max());
    trcPreview->SetMax(static_cast<int>(std::max<int64_t>(1, RoundedSeconds(duration))));
    trcPreview->SetPositionL(0);
    trcTextHoriz->setRange(0, frameWidth);
    trcTextVert->setRange(0, frameHeight);
    FUpdating = false;
    FFPlayer->Mute = FMute;
    FScene->setSceneRect(0, 0, frameWidth, frameHeight);
    FitView();
    LoadLayers();
    FFileOpened = true;
    SetAddingEnabled(true);
    FFPlayer->Hook = true;
}

void TfrmWaterMark::SetAddingEnabled(bool enabled) {
    btnAddText->setEnabled(enabled);
    btnAddImage->setEnabled(enabled);
}

void TfrmWaterMark::LoadLayers() {
    for (const TWmRec& rec : FRow->Watermarks) {
        TWmItemRec item;
        item.Rec = rec;
        if (rec.Kind == kWmImageLayer) {
            lsbox->addItem(QString::fromStdString(rec.ImageFile));
            LoadImageLayer(item);
        } else {
            lsbox->addItem(QString::fromStdString(rec.Text));
            const QImage picture = TextLayerPicture(rec.Text, rec.Font.value_or(TWmFont{}),
                                                    rec.UseBackColor, rec.BackColor);
            item.Layer =
                NewLayer(kWmTextLayer, picture, QPointF(rec.TextLeft, rec.TextTop), rec.TextAlpha);
        }
        QListWidgetItem* entry = lsbox->item(lsbox->count() - 1);
        entry->setIcon(style()->standardIcon(item.PictureMissing ? QStyle::SP_MessageBoxWarning
                                             : rec.Kind == kWmImageLayer
                                                 ? QStyle::SP_FileIcon
                                                 : QStyle::SP_FileDialogDetailedView));
        if (item.PictureMissing)
            entry->setToolTip("Cannot read the bitmap file \"" +
                              QString::fromStdString(rec.ImageFile) + "\".");
        FItems.push_back(std::move(item));
    }
    RestackLayers();
    if (!FItems.empty()) {
        lsbox->setCurrentRow(lsbox->count() - 1);
        if (isVisible()) lsboxClick();
    }
    EnableLayerControls();
}

// A stored image layer. A file that cannot be read (moved, deleted) leaves
// a framed stand-in of the stored size, so the layer keeps its place and
// size and can still be moved or deleted.
void TfrmWaterMark::LoadImageLayer(TWmItemRec& item) {
    const TWmRec& rec = item.Rec;
    QImage picture = QImage(QString::fromStdString(rec.ImageFile));
    if (picture.isNull()) {
        item.PictureMissing = true;
        picture = QImage(std::max(1, rec.ImageWidth), std::max(1, rec.ImageHeight),
                         QImage::Format_ARGB32_Premultiplied);
        picture.fill(Qt::transparent);
        QPainter p(&picture);
        p.setPen(QPen(QColor(255, 0, 0), 1, Qt::DashLine));
        p.drawRect(picture.rect().adjusted(0, 0, -1, -1));
    } else {
        picture = ShownLayerPicture(picture);
    }
    item.Layer =
        NewLayer(kWmImageLayer, picture, QPointF(rec.ImageLeft, rec.ImageTop), rec.ImageAlpha);
}

void TfrmWaterMark::FFPlayerHook(Bitmap24& bitmap, int64_t pts) {
    {
        std::lock_guard lock(FFrameLock);
        FFrameSlot = bitmap;
        FFrameSlotTime = pts;
    }
    if (!FFramePending.exchange(true))
        QMetaObject::invokeMethod(
            this, [this] { ShowFrame(); }, Qt::QueuedConnection);
}

void TfrmWaterMark::ShowFrame() {
    FFramePending = false;
    int64_t pts = 0;
    {
        std::lock_guard lock(FFrameLock);
        if (FFrameSlot.Width <= 0 || FFrameSlot.Height <= 0) return;
        FLastFrame = WrapBitmap(FFrameSlot).convertToFormat(QImage::Format_RGB32);
        pts = FFrameSlotTime;
    }
    FPreview->ShowPosition(pts);
    if (isVisible())
        for (const TWmItemRec& item : FItems)
            item.Layer->setVisible(IsLayerVisible(item.Rec, pts));
    QImage shown = FLastFrame;
    if (FRow) {
        QPainter p(&shown);
        p.setPen(QPen(QColor(0, 128, 0), 2, Qt::SolidLine));
        p.setBrush(Qt::NoBrush);
        p.drawRect(
            QRect(QPoint(FRow->CropLeft, FRow->CropTop),
                  QPoint(shown.width() - FRow->CropRight, shown.height() - FRow->CropBottom)));
    }
    FBackground->setPixmap(QPixmap::fromImage(shown));
    FShownTime = pts;
    ++FFramesShown;
}

void TfrmWaterMark::FFPlayerState(int state) {
    FPreview->ShowState(static_cast<TPlayState>(state));
    if (state == psEnd) FLastFrame = QImage();
}

void TfrmWaterMark::imgbtnPlayClick() {
    FPreview->Resume();
}

void TfrmWaterMark::imgbtnpauseClick() {
    FPreview->Pause();
}

void TfrmWaterMark::trcPreviewMouse(int x, bool press) {
    const int64_t duration = FPreview->Duration();
    if (duration <= 0 || trcPreview->Max() <= 0) return;
    const int span = std::max(1, trcPreview->width() - kPreviewThumbHalf);
    const int max = trcPreview->Max();
    const int position = std::clamp(static_cast<int>(static_cast<double>(x) / span * max), 0, max);
    FPreview->Dragging = true;
    trcPreview->SetPositionL(position);
    const int64_t target = BarTime(position, max, duration);
    if (press) {
        const bool wasPaused = FFPlayer->IsPaused();
        if (!wasPaused) FFPlayer->Pause();
        FFPlayer->Seek(4, true, target);
        if (!wasPaused) FFPlayer->Resume();
    } else {
        FFPlayer->Seek(0, false, target);
    }
    FPreview->Dragging = false;
}

void TfrmWaterMark::StopPlayer() {
    FFPlayer->Hook = false;
    if (FFPlayer->FileOpen()) {
        if (FFPlayer->IsPaused()) FFPlayer->Resume();
        FFPlayer->Close(true);
    }
}

void TfrmWaterMark::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    FitView();
}

void TfrmWaterMark::FitView() {
    ImgView->fitInView(FScene->sceneRect(), Qt::KeepAspectRatio);
}

QPoint TfrmWaterMark::FrameToView(const QPointF& framePoint) const {
    return ImgView->mapFromScene(framePoint);
}

// ---------------------------------------------------------------------------
// Layers

TWmLayerItem* TfrmWaterMark::NewLayer(int tag, const QImage& picture, const QPointF& topLeft,
                                      int alpha) {
    auto* layer = new TWmLayerItem(tag);
    layer->setPixmap(QPixmap::fromImage(picture));
    layer->setPos(topLeft);
    layer->setOpacity(alpha / 255.0);
    layer->OnMouseDown = [this](TWmLayerItem* l) {
        SelectLayer(l);
        const int index = IndexOfLayer(l);
        if (index >= 0) {
            lsbox->setCurrentRow(index);
            ShowItemControls(index);
        }
    };
    layer->OnMoved = [this](TWmLayerItem* l) { LayerMoved(l); };
    FScene->addItem(layer);
    return layer;
}

QPointF TfrmWaterMark::ViewCentre() const {
    return ImgView->mapToScene(ImgView->viewport()->rect().center());
}

int TfrmWaterMark::IndexOfLayer(const TWmLayerItem* layer) const {
    for (std::size_t i = 0; i < FItems.size(); ++i)
        if (FItems[i].Layer == layer) return static_cast<int>(i);
    return -1;
}

void TfrmWaterMark::SelectLayer(TWmLayerItem* layer) {
    if (layer == FSelected) return;
    if (FSelectionFrame) FSelectionFrame->hide();
    FSelected = layer;
    if (!layer) return;
    if (!FSelectionFrame) {
        FSelectionFrame = FScene->addRect(QRectF(), QPen(QColor(255, 255, 0), 0, Qt::DashLine));
        FSelectionFrame->setAcceptedMouseButtons(Qt::NoButton);
        FSelectionFrame->setZValue(kFrameZ);
    }
    FSelectionFrame->setRect(layer->sceneBoundingRect());
    FSelectionFrame->show();
}

void TfrmWaterMark::LayerMoved(TWmLayerItem* layer) {
    if (layer != FSelected) return;
    if (FSelectionFrame) FSelectionFrame->setRect(layer->sceneBoundingRect());
    FUpdating = true;
    trcTextHoriz->setValue(static_cast<int>(std::lround(layer->x())));
    trcTextVert->setValue(static_cast<int>(std::lround(layer->y())));
    FUpdating = false;
}

void TfrmWaterMark::RestackLayers() {
    for (std::size_t i = 0; i < FItems.size(); ++i)
        FItems[i].Layer->setZValue(static_cast<qreal>(i));
}

void TfrmWaterMark::lsboxClick() {
    const int index = lsbox->currentRow();
    if (index < 0 || index >= LayerCount()) return;
    SelectLayer(FItems[index].Layer);
    ShowItemControls(index);
}

void TfrmWaterMark::ShowItemControls(int index) {
    const TWmItemRec& item = FItems[index];
    FUpdating = true;
    trcTextHoriz->setValue(static_cast<int>(std::lround(item.Layer->x())));
    trcTextVert->setValue(static_cast<int>(std::lround(item.Layer->y())));
    trcTextTran->setValue(static_cast<int>(std::lround(item.Layer->opacity() * 255)));
    // The bar keeps its lower thumb below the upper one: open it fully first.
    trcRange->SetPositionU(trcRange->Max());
    trcRange->SetPositionL(item.Rec.StartTime);
    trcRange->SetPositionU(item.Rec.EndTime);
    edtStart->setText(TimeText(item.Rec.StartTime));
    edtEnd->setText(TimeText(item.Rec.EndTime));
    SetPositionControlsEnabled(true);
    const bool text = item.Rec.Kind == kWmTextLayer;
    if (text) {
        const TWmFont font = item.Rec.Font.value_or(TWmFont{});
        SetBoxColor(suiColorBoxbackground, item.Rec.BackColor);
        SetBoxColor(suiColorBoxcmb, font.Color);
        const int sizeIndex = suiFontSizeCmb->findText(QString::number(font.Size));
        if (sizeIndex >= 0) suiFontSizeCmb->setCurrentIndex(sizeIndex);
        if (!font.Name.empty())
            suiFontCmb->setCurrentFont(QFont(QString::fromStdString(font.Name)));
        suiChkBold->setChecked(font.Style & fsBold);
        suiChkItalic->setChecked(font.Style & fsItalic);
        suiChkUnderline->setChecked(font.Style & fsUnderline);
        suiChkStrikeOut->setChecked(font.Style & fsStrikeOut);
        (item.Rec.UseBackColor ? rb1 : rb2)->setChecked(true);
    }
    FUpdating = false;
    SetTextControlsEnabled(text);
    if (!text) suiColorBoxbackground->setEnabled(false);
}

void TfrmWaterMark::btnAddTextClick() {
    if (!FFileOpened) return; // nothing to place it on
    FFPlayer->Hook = false;
    edt1->hide();
    const QString caption = "Add Text";
    lsbox->addItem(caption);
    lsbox->item(lsbox->count() - 1)
        ->setIcon(style()->standardIcon(QStyle::SP_FileDialogDetailedView));
    lsbox->setFocus();
    TWmItemRec item;
    item.Rec.Kind = kWmTextLayer;
    item.Rec.Text = caption.trimmed().toStdString();
    item.Rec.Font = BoxFont();
    // The stored switch follows the picture the layer starts with, so that
    // the converted file shows the box as the editor does.
    item.Rec.UseBackColor = rb1->isChecked();
    item.Rec.BackColor = BoxColor(suiColorBoxbackground);
    const QImage picture =
        TextLayerPicture(item.Rec.Text, *item.Rec.Font, item.Rec.UseBackColor, item.Rec.BackColor);
    const QPointF topLeft = CentredTopLeft(picture);
    item.Layer = NewLayer(kWmTextLayer, picture, topLeft, trcTextTran->value());
    item.Rec.TextLeft = static_cast<int32_t>(topLeft.x());
    item.Rec.TextTop = static_cast<int32_t>(topLeft.y());
    item.Rec.TextWidth = picture.width();
    item.Rec.TextHeight = picture.height();
    item.Rec.TextAlpha = trcTextTran->value();
    AppendItem(std::move(item));
    SetPositionControlsEnabled(true);
    EnableLayerControls();
    lsboxClick();
    lsboxDblClick();
}

// Where a new layer's picture goes: centred on the view, on whole pixels.
QPointF TfrmWaterMark::CentredTopLeft(const QImage& picture) const {
    const QPointF centre = ViewCentre();
    return QPointF(std::round(centre.x() - picture.width() / 2.0),
                   std::round(centre.y() - picture.height() / 2.0));
}

// A new layer lasts the whole file, goes on top and becomes the selected one.
void TfrmWaterMark::AppendItem(TWmItemRec&& item) {
    item.Rec.StartTime = 0;
    item.Rec.EndTime = static_cast<int32_t>(FPreview->Duration() / 1000000);
    FItems.push_back(std::move(item));
    RestackLayers();
    lsbox->setCurrentRow(lsbox->count() - 1);
    SelectLayer(FItems.back().Layer);
    FFPlayer->Hook = FFileOpened;
}

void TfrmWaterMark::btnAddImageClick() {
    if (!FFileOpened) return; // nothing to place it on
    FFPlayer->Hook = false;
    edt1->hide();
    const std::string file =
        FImageChooser ? FImageChooser()
                      : QFileDialog::getOpenFileName(this, "Add Image", QString(), kPictureFilter)
                            .toStdString();
    if (file.empty()) {
        FFPlayer->Hook = FFileOpened;
        return;
    }
    const QImage picture = ShownLayerPicture(QImage(QString::fromStdString(file)));
    if (picture.isNull()) {
        ShowMessageBox("Water Mark", "Cannot read the picture file \"" + file + "\".",
                       TMsgIcon::Error, TMsgButtons::Ok);
        FFPlayer->Hook = FFileOpened;
        return;
    }
    lsbox->addItem(QString::fromStdString(file));
    lsbox->item(lsbox->count() - 1)->setIcon(style()->standardIcon(QStyle::SP_FileIcon));
    const QPointF topLeft = CentredTopLeft(picture);
    TWmItemRec item;
    item.Layer = NewLayer(kWmImageLayer, picture, topLeft, trcTextTran->value());
    item.Rec.Kind = kWmImageLayer;
    item.Rec.ImageFile = file;
    item.Rec.ImageLeft = static_cast<int32_t>(topLeft.x());
    item.Rec.ImageTop = static_cast<int32_t>(topLeft.y());
    item.Rec.ImageWidth = picture.width();
    item.Rec.ImageHeight = picture.height();
    item.Rec.ImageAlpha = trcTextTran->value();
    AppendItem(std::move(item));
    lsboxClick();
    EnableLayerControls();
}

void TfrmWaterMark::btnDeleteClick() {
    edt1->hide();
    const int index = lsbox->currentRow();
    if (index >= 0 && index < LayerCount()) {
        SelectLayer(nullptr);
        delete FItems[index].Layer;
        FItems.erase(FItems.begin() + index);
        delete lsbox->takeItem(index);
        RestackLayers();
        const int next = index > 0 ? index - 1 : (FItems.empty() ? -1 : 0);
        lsbox->setCurrentRow(next);
        if (next >= 0) lsboxClick();
    }
    lsbox->setFocus();
    EnableLayerControls();
}

void TfrmWaterMark::Reorder(int from, int to) {
    std::swap(FItems[from], FItems[to]);
    QListWidgetItem* entry = lsbox->takeItem(from);
    lsbox->insertItem(to, entry);
    lsbox->setCurrentRow(to);
    RestackLayers();
}

void TfrmWaterMark::btnUpClick() {
    edt1->hide();
    const int index = IndexOfLayer(FSelected);
    if (index > 0) Reorder(index, index - 1);
}

void TfrmWaterMark::btnDownClick() {
    edt1->hide();
    const int index = IndexOfLayer(FSelected);
    if (index >= 0 && index + 1 < LayerCount()) Reorder(index, index + 1);
}

// ---------------------------------------------------------------------------
// Text editing and attributes

void TfrmWaterMark::lsboxDblClick() {
    const int index = lsbox->currentRow();
    if (index < 0 || index >= LayerCount() || FItems[index].Rec.Kind != kWmTextLayer) return;
    FEditIndex = index;
    const QRect r = lsbox->visualItemRect(lsbox->item(index));
    edt1->setGeometry(21, r.top() + 2, lsbox->width() - 25, 20);
    QFont f = edt1->font();
    f.setPointSize(11);
    edt1->setFont(f);
    edt1->setText(lsbox->item(index)->text());
    edt1->show();
    edt1->setFocus();
}

void TfrmWaterMark::edt1Changed(const QString& text) {
    if (FEditIndex < 0 || FEditIndex >= LayerCount()) return;
    lsbox->item(FEditIndex)->setText(text);
    FItems[FEditIndex].Rec.Text = text.toStdString();
    lsbox->setCurrentRow(FEditIndex);
    SelectLayer(FItems[FEditIndex].Layer);
    RedrawText();
}

bool TfrmWaterMark::eventFilter(QObject* watched, QEvent* event) {
    if (watched == edt1 && event->type() == QEvent::FocusOut) {
        edt1->hide();
        edt1->move(edt1->x(), 200);
    }
    if (watched == ImgView->viewport() && event->type() == QEvent::MouseMove && FSelected)
        LayerMoved(FSelected);
    return QDialog::eventFilter(watched, event);
}

TWmFont TfrmWaterMark::BoxFont() const {
    TWmFont font;
    font.Name = suiFontCmb->currentFont().family().toStdString();
    font.Size = suiFontSizeCmb->currentText().toInt();
    if (font.Size <= 0) font.Size = 26;
    font.Color = BoxColor(suiColorBoxcmb);
    font.Style = (suiChkBold->isChecked() ? uint32_t{fsBold} : 0u) |
                 (suiChkItalic->isChecked() ? uint32_t{fsItalic} : 0u) |
                 (suiChkUnderline->isChecked() ? uint32_t{fsUnderline} : 0u) |
                 (suiChkStrikeOut->isChecked() ? uint32_t{fsStrikeOut} : 0u);
    return font;
}

void TfrmWaterMark::AttributeChanged(const std::function<void(TWmItemRec&)>& change) {
    if (FUpdating) return;
    const int index = IndexOfLayer(FSelected);
    if (index < 0 || FItems[index].Rec.Kind != kWmTextLayer) return;
    change(FItems[index]);
    RedrawText();
}

void TfrmWaterMark::RedrawText() {
    const int index = IndexOfLayer(FSelected);
    if (index < 0) return;
    TWmItemRec& item = FItems[index];
    if (item.Rec.Kind != kWmTextLayer || item.Rec.Text.empty()) return;
    lsbox->setCurrentRow(index);
    const QPointF topLeft = item.Layer->pos();
    const int alpha = static_cast<int>(std::lround(item.Layer->opacity() * 255));
    TWmFont font = BoxFont();
    font.Style = item.Rec.Font.value_or(TWmFont{}).Style;
    SelectLayer(nullptr);
    delete item.Layer;
    const QImage picture = TextLayerPicture(item.Rec.Text, font, item.Rec.UseBackColor,
                                            BoxColor(suiColorBoxbackground));
    item.Layer = NewLayer(kWmTextLayer, picture, topLeft, alpha);
    item.Rec.Font = font;
    RestackLayers();
    SelectLayer(item.Layer);
}

void TfrmWaterMark::RangeChanged() {
    const int index = lsbox->currentRow();
    if (FUpdating || index < 0 || index >= LayerCount()) return;
    FItems[index].Rec.StartTime = trcRange->PositionL();
    FItems[index].Rec.EndTime = trcRange->PositionU();
    edtStart->setText(TimeText(trcRange->PositionL()));
    edtEnd->setText(TimeText(trcRange->PositionU()));
}

// ---------------------------------------------------------------------------
// Closing

void TfrmWaterMark::btnOkClick() {
    // Without the source's frames no layer was loaded: the row keeps its own.
    if (FRow && FFileOpened) {
        std::vector<TWmRec> layers;
        for (std::size_t i = 0; i < FItems.size(); ++i) {
            const TWmItemRec& item = FItems[i];
            TWmRec rec = item.Rec;
            const QRectF place = item.Layer->sceneBoundingRect();
            const auto left = static_cast<int32_t>(std::lround(place.left()));
            const auto top = static_cast<int32_t>(std::lround(place.top()));
            const auto width = static_cast<int32_t>(std::lround(place.width()));
            const auto height = static_cast<int32_t>(std::lround(place.height()));
            const auto alpha = static_cast<int32_t>(std::lround(item.Layer->opacity() * 255));
            if (rec.Kind == kWmTextLayer) {
                rec.Text = lsbox->item(static_cast<int>(i))->text().toStdString();
                rec.TextLeft = left, rec.TextTop = top, rec.TextWidth = width,
                rec.TextHeight = height, rec.TextAlpha = alpha;
            } else {
                rec.ImageLeft = left, rec.ImageTop = top, rec.ImageAlpha = alpha;
                if (!item.PictureMissing) rec.ImageWidth = width, rec.ImageHeight = height;
            }
            layers.push_back(std::move(rec));
        }
        FRow->Watermarks = std::move(layers);
    }
    accept();
}

void TfrmWaterMark::btnCancelClick() {
    reject();
}

void TfrmWaterMark::done(int result) {
    StopPlayer();
    QDialog::done(result);
}

bool TfrmWaterMark::PlayerOpen() const {
    return FFPlayer->FileOpen();
}

void TfrmWaterMark::btnHelpClick() {
    OpenInDesktop(kHelpPage);
}

void TfrmWaterMark::closeEvent(QCloseEvent* event) {
    StopPlayer();
    FLastFrame = QImage();
    SelectLayer(nullptr);
    QDialog::closeEvent(event);
}
