// The main window's size: it grows from its designed 914 x 566 (also its
// smallest size), the list and the preview taking the room; its size, place
// and maximised state are kept in the settings file between runs.
#include "app/winMain.h"

#include "app/PlayerSurface.h"
#include "core/GlobalUnit.h"
#include "core/IniFile.h"
#include "controls/Tracker2.h"

#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QWindow>
#include <algorithm>
#include <string>

namespace {

constexpr int kDesignWidth = 914;
constexpr int kDesignHeight = 566;
constexpr int kTitleRowHeight = 32;
// The bands of the design: rows above the list, the bottom rows, and the
// column where the preview starts.
constexpr int kListTop = 124;
constexpr int kBottomTop = 462;
constexpr int kPreviewLeft = 505;
constexpr int kPreviewBottom = 374;
// Right of this the bottom rows' buttons follow the edit boxes.
constexpr int kBoxRight = 466;
constexpr int kResizeGrip = 5;
// The share of the extra width the list gets; the preview takes the rest.
constexpr int kListSharePercent = 55;

const char* const kPlaceSection = "MainWindow";

// The track picture made wider: its ends as they are, its middle stretched.
QPixmap StretchedTrack(const QPixmap& design, int width) {
    constexpr int kEnd = 8;
    if (design.isNull() || width <= 2 * kEnd || design.width() <= 2 * kEnd) return design;
    QPixmap picture(width, design.height());
    picture.fill(Qt::transparent);
    QPainter p(&picture);
    const int h = design.height();
    p.drawPixmap(0, 0, design, 0, 0, kEnd, h);
    p.drawPixmap(QRect(kEnd, 0, width - 2 * kEnd, h), design,
                 QRect(kEnd, 0, design.width() - 2 * kEnd, h));
    p.drawPixmap(width - kEnd, 0, design, design.width() - kEnd, 0, kEnd, h);
    return picture;
}

} // namespace

void TfrmMain::CreateMaximizeButton() {
    btnMaximize = new skin::TImageButton("btnMaximize", "", "maximize", 24, 24, 18, this);
    btnMaximize->setToolTip("Maximize");
    btnMaximize->setAccessibleName("Maximize");
    btnMaximize->move(btnClose->x() - 28, btnClose->y());
    btnSmall->move(btnMaximize->x() - 28, btnMaximize->y());
    connect(btnMaximize, &QToolButton::clicked, this, &TfrmMain::btnMaximizeClick);
}

void TfrmMain::btnMaximizeClick() {
    if (isMaximized())
        showNormal();
    else
        showMaximized();
}

void TfrmMain::RecordDesignPlaces() {
    designPlaces_.clear();
    for (QObject* child : children()) {
        if (!child->isWidgetType()) continue;
        auto* widget = static_cast<QWidget*>(child);
        // The format drop-down places itself each time it opens.
        if (widget->isWindow() || widget == lst1) continue;
        designPlaces_.push_back({widget, widget->geometry()});
    }
    designTrack_ = imgPreviewTrack->pixmap();
    designPositionBarWidth_ = trcPreview->width();
}

QRect TfrmMain::GrownPlace(const QWidget* widget, const QRect& design, const TGrowth& g) const {
    if (widget == lvFIles) return design.adjusted(0, 0, g.List, g.Down);
    if (widget == pnlAdding) return design.adjusted(0, g.Down, g.List, g.Down);
    if (widget == pan1) return design.adjusted(g.List, 0, g.Across, g.Down);
    if (widget == trcPreview) return design.adjusted(g.List, g.Down, g.Across, g.Down);
    if (widget == edt1 || widget == edDirectory) return design.adjusted(0, g.Down, g.List, g.Down);
    if (widget == trcVolume || widget == btnStartBelow) return design.translated(g.Across, g.Down);
    if (design.y() < kListTop)
        return design.translated(design.x() > kPreviewLeft ? g.Across : 0, 0);
    if (design.y() >= kBottomTop)
        return design.translated(design.x() >= kBoxRight ? g.List : 0, g.Down);
    if (design.x() >= kPreviewLeft)
        return design.translated(g.List, design.y() >= kPreviewBottom ? g.Down : 0);
    return design;
}

void TfrmMain::LayOutWindow() {
    if (designPlaces_.empty()) return;
    TGrowth growth;
    growth.Across = std::max(0, width() - kDesignWidth);
    growth.Down = std::max(0, height() - kDesignHeight);
    growth.List = growth.Across * kListSharePercent / 100;
    const int barWidth = trcPreview->width();
    for (const auto& [widget, design] : designPlaces_)
        widget->setGeometry(GrownPlace(widget, design, growth));
    lblAdding->resize(pnlAdding->width() - 100, lblAdding->height());
    btnStopAdding->move(pnlAdding->width() - 84, btnStopAdding->y());
    imgPreview->setGeometry(pan1->rect());
    FitPositionBar(barWidth);
    update();
}

// The position bar counts in pixels of its own width (its maximum is its
// width): a wider bar keeps showing the same time.
void TfrmMain::FitPositionBar(int oldWidth) {
    const int newWidth = trcPreview->width();
    if (newWidth == oldWidth) return;
    imgPreviewTrack->setPixmap(
        StretchedTrack(designTrack_, designTrack_.width() + newWidth - designPositionBarWidth_));
    if (trcPreview->Max() == oldWidth && oldWidth > 0) {
        const int position =
            static_cast<int>(int64_t{trcPreview->PositionL()} * newWidth / oldWidth);
        trcPreview->SetMax(newWidth);
        trcPreview->SetPositionL(position);
    }
    trcPreview->update();
}

void TfrmMain::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    LayOutWindow();
}

Qt::Edges TfrmMain::EdgesAt(const QPoint& pos) const {
    Qt::Edges edges;
    if (isMaximized() || isFullScreen()) return edges;
    if (pos.x() < kResizeGrip) edges |= Qt::LeftEdge;
    if (pos.x() >= width() - kResizeGrip) edges |= Qt::RightEdge;
    if (pos.y() < kResizeGrip) edges |= Qt::TopEdge;
    if (pos.y() >= height() - kResizeGrip) edges |= Qt::BottomEdge;
    return edges;
}

bool TfrmMain::StartEdgeResize(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !windowHandle()) return false;
    const Qt::Edges edges = EdgesAt(event->position().toPoint());
    return edges && windowHandle()->startSystemResize(edges);
}

void TfrmMain::mouseMoveEvent(QMouseEvent* event) {
    if (event->buttons() == Qt::NoButton) {
        const Qt::Edges edges = EdgesAt(event->position().toPoint());
        const bool diagonal =
            edges == (Qt::LeftEdge | Qt::TopEdge) || edges == (Qt::RightEdge | Qt::BottomEdge);
        const bool antiDiagonal =
            edges == (Qt::RightEdge | Qt::TopEdge) || edges == (Qt::LeftEdge | Qt::BottomEdge);
        if (diagonal)
            setCursor(Qt::SizeFDiagCursor);
        else if (antiDiagonal)
            setCursor(Qt::SizeBDiagCursor);
        else if (edges & (Qt::LeftEdge | Qt::RightEdge))
            setCursor(Qt::SizeHorCursor);
        else if (edges & (Qt::TopEdge | Qt::BottomEdge))
            setCursor(Qt::SizeVerCursor);
        else
            unsetCursor();
    }
    QWidget::mouseMoveEvent(event);
}

void TfrmMain::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && event->position().y() < kTitleRowHeight)
        btnMaximizeClick();
    QWidget::mouseDoubleClickEvent(event);
}

void TfrmMain::changeEvent(QEvent* event) {
    if (event->type() == QEvent::WindowStateChange && btnMaximize) {
        const char* tip = isMaximized() ? "Restore" : "Maximize";
        btnMaximize->setToolTip(tip);
        btnMaximize->setAccessibleName(tip);
    }
    QWidget::changeEvent(event);
}

// ---------------------------------------------------------------------------
// The remembered place

void TfrmMain::StoreWindowPlace() {
    QRect place = geometry();
    if ((isMaximized() || isFullScreen()) && normalGeometry().isValid()) place = normalGeometry();
    TIniFile settings(GlobalObject->SettingsFile());
    settings.WriteSectionValues(kPlaceSection, {{"Left", std::to_string(place.x())},
                                                {"Top", std::to_string(place.y())},
                                                {"Width", std::to_string(place.width())},
                                                {"Height", std::to_string(place.height())},
                                                {"Maximized", isMaximized() ? "1" : "0"}});
}

// A stored place is taken when its title row lies on a screen; on a screen
// that can hold the designed size the window is also kept inside it. No
// stored place, or one smaller than the design: centred at the design size.
void TfrmMain::RestoreWindowPlace() {
    const TIniFile settings(GlobalObject->SettingsFile());
    const int w = settings.ReadInteger(kPlaceSection, "Width", 0);
    const int h = settings.ReadInteger(kPlaceSection, "Height", 0);
    if (w < kDesignWidth || h < kDesignHeight) return;
    QRect place(settings.ReadInteger(kPlaceSection, "Left", 0),
                settings.ReadInteger(kPlaceSection, "Top", 0), w, h);
    QScreen* screen = QGuiApplication::screenAt(place.topLeft() + QPoint(w / 2, 16));
    if (!screen) screen = QGuiApplication::primaryScreen();
    if (screen) {
        const QRect room = screen->availableGeometry();
        if (!room.contains(place.topLeft() + QPoint(w / 2, 16))) place.moveCenter(room.center());
        if (room.width() >= kDesignWidth && room.height() >= kDesignHeight) {
            place.setSize(place.size().boundedTo(room.size()));
            place.moveLeft(std::clamp(place.left(), room.left(), room.right() - place.width() + 1));
            place.moveTop(std::clamp(place.top(), room.top(), room.bottom() - place.height() + 1));
        }
    }
    setGeometry(place);
    if (settings.ReadInteger(kPlaceSection, "Maximized", 0) == 1)
        setWindowState(windowState() | Qt::WindowMaximized);
}
