#include "app/MainLayout.h"

#include "app/PlayerSurface.h"
#include "core/GlobalUnit.h"
#include "core/IniFile.h"
#include "app/winMain.h"
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

void TMainLayout::RecordDesignPlaces() {
    TfrmMain& w = FWindow;
    FDesignPlaces.clear();
    for (QObject* child : w.children()) {
        if (!child->isWidgetType()) continue;
        auto* widget = static_cast<QWidget*>(child);
        // The format drop-down places itself each time it opens.
        if (widget->isWindow() || widget == w.lst1) continue;
        FDesignPlaces.push_back({widget, widget->geometry()});
    }
    FDesignTrack = w.imgPreviewTrack->pixmap();
    FDesignPositionBarWidth = w.trcPreview->width();
}

QRect TMainLayout::GrownPlace(const QWidget* widget, const QRect& design, const TGrowth& g) const {
    TfrmMain& w = FWindow;
    if (widget == w.lvFIles) return design.adjusted(0, 0, g.List, g.Down);
    if (widget == w.pnlAdding) return design.adjusted(0, g.Down, g.List, g.Down);
    if (widget == w.pan1) return design.adjusted(g.List, 0, g.Across, g.Down);
    if (widget == w.trcPreview) return design.adjusted(g.List, g.Down, g.Across, g.Down);
    if (widget == w.edt1 || widget == w.edDirectory)
        return design.adjusted(0, g.Down, g.List, g.Down);
    if (widget == w.trcVolume || widget == w.btnStartBelow)
        return design.translated(g.Across, g.Down);
    if (design.y() < kListTop)
        return design.translated(design.x() > kPreviewLeft ? g.Across : 0, 0);
    if (design.y() >= kBottomTop)
        return design.translated(design.x() >= kBoxRight ? g.List : 0, g.Down);
    if (design.x() >= kPreviewLeft)
        return design.translated(g.List, design.y() >= kPreviewBottom ? g.Down : 0);
    return design;
}

void TMainLayout::LayOut() {
    TfrmMain& w = FWindow;
    if (FDesignPlaces.empty()) return;
    TGrowth growth;
    growth.Across = std::max(0, w.width() - kDesignWidth);
    growth.Down = std::max(0, w.height() - kDesignHeight);
    growth.List = growth.Across * kListSharePercent / 100;
    const int barWidth = w.trcPreview->width();
    for (const auto& [widget, design] : FDesignPlaces)
        widget->setGeometry(GrownPlace(widget, design, growth));
    w.lblAdding->resize(w.pnlAdding->width() - 100, w.lblAdding->height());
    w.btnStopAdding->move(w.pnlAdding->width() - 84, w.btnStopAdding->y());
    w.imgPreview->setGeometry(w.pan1->rect());
    FitPositionBar(barWidth);
    w.update();
}

void TMainLayout::FitPositionBar(int oldWidth) {
    TfrmMain& w = FWindow;
    const int newWidth = w.trcPreview->width();
    if (newWidth == oldWidth) return;
    w.imgPreviewTrack->setPixmap(
        StretchedTrack(FDesignTrack, FDesignTrack.width() + newWidth - FDesignPositionBarWidth));
    if (w.trcPreview->Max() == oldWidth && oldWidth > 0) {
        const int position =
            static_cast<int>(int64_t{w.trcPreview->PositionL()} * newWidth / oldWidth);
        w.trcPreview->SetMax(newWidth);
        w.trcPreview->SetPositionL(position);
    }
    w.trcPreview->update();
}

Qt::Edges TMainLayout::EdgesAt(const QPoint& pos) const {
    TfrmMain& w = FWindow;
    Qt::Edges edges;
    if (w.isMaximized() || w.isFullScreen()) return edges;
    if (pos.x() < kResizeGrip) edges |= Qt::LeftEdge;
    if (pos.x() >= w.width() - kResizeGrip) edges |= Qt::RightEdge;
    if (pos.y() < kResizeGrip) edges |= Qt::TopEdge;
    if (pos.y() >= w.height() - kResizeGrip) edges |= Qt::BottomEdge;
    return edges;
}

bool TMainLayout::StartEdgeResize(const QMouseEvent& event) const {
    TfrmMain& w = FWindow;
    if (event.button() != Qt::LeftButton || !w.windowHandle()) return false;
    const Qt::Edges edges = EdgesAt(event.position().toPoint());
    return edges && w.windowHandle()->startSystemResize(edges);
}

void TMainLayout::StorePlace() const {
    TfrmMain& w = FWindow;
    QRect place = w.geometry();
    if ((w.isMaximized() || w.isFullScreen()) && w.normalGeometry().isValid())
        place = w.normalGeometry();
    TIniFile settings(w.GlobalObject->SettingsFile());
    settings.WriteSectionValues(kPlaceSection, {{"Left", std::to_string(place.x())},
                                                {"Top", std::to_string(place.y())},
                                                {"Width", std::to_string(place.width())},
                                                {"Height", std::to_string(place.height())},
                                                {"Maximized", w.isMaximized() ? "1" : "0"}});
}

void TMainLayout::RestorePlace() {
    TfrmMain& window = FWindow;
    const TIniFile settings(window.GlobalObject->SettingsFile());
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
    window.setGeometry(place);
    if (settings.ReadInteger(kPlaceSection, "Maximized", 0) == 1)
        window.setWindowState(window.windowState() | Qt::WindowMaximized);
}

void TMainLayout::ToggleMaximized() {
    if (FWindow.isMaximized())
        FWindow.showNormal();
    else
        FWindow.showMaximized();
}
