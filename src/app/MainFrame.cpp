#include "app/MainFrame.h"

#include "app/MainLayout.h"
#include "app/winMain.h"

#include "app/Skin.h"

#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QWindow>

namespace {

constexpr int kTitleRowHeight = 32;
// The band of the tool row, from the window's top.
constexpr int kToolBandTop = 64;
constexpr int kToolBandHeight = 60;
// The bottom rows keep this distance from the window's bottom.
constexpr int kBottomRowsHeight = 104;

bool OnTitleRow(const QMouseEvent& event) {
    return event.button() == Qt::LeftButton && event.position().y() < kTitleRowHeight;
}

Qt::CursorShape RimCursor(Qt::Edges edges) {
    if (edges == (Qt::LeftEdge | Qt::TopEdge) || edges == (Qt::RightEdge | Qt::BottomEdge))
        return Qt::SizeFDiagCursor;
    if (edges == (Qt::RightEdge | Qt::TopEdge) || edges == (Qt::LeftEdge | Qt::BottomEdge))
        return Qt::SizeBDiagCursor;
    if (edges & (Qt::LeftEdge | Qt::RightEdge)) return Qt::SizeHorCursor;
    if (edges & (Qt::TopEdge | Qt::BottomEdge)) return Qt::SizeVerCursor;
    return Qt::ArrowCursor;
}

} // namespace

TMainFrame::TMainFrame(TfrmMain& window, TMainLayout& layout)
    : QObject(&window), FWindow(window), FLayout(layout) {
    window.installEventFilter(this);
}

// The window's own handlers still run after these (except for a press
// that starts a resize).
bool TMainFrame::eventFilter(QObject* watched, QEvent* event) {
    if (watched != &FWindow) return false;
    switch (event->type()) {
    case QEvent::MouseButtonPress:
        return Pressed(static_cast<QMouseEvent&>(*event));
    case QEvent::MouseMove:
        ShowRimCursor(static_cast<QMouseEvent&>(*event));
        break;
    case QEvent::MouseButtonDblClick:
        if (OnTitleRow(static_cast<QMouseEvent&>(*event))) FLayout.ToggleMaximized();
        break;
    case QEvent::WindowStateChange:
        ShowMaximizeTip();
        break;
    case QEvent::Resize:
        FLayout.LayOut();
        break;
    case QEvent::Paint:
        PaintBands();
        break;
    default:
        break;
    }
    return false;
}

bool TMainFrame::Pressed(const QMouseEvent& event) {
    if (FLayout.StartEdgeResize(event)) return true;
    if (OnTitleRow(event) && FWindow.windowHandle()) FWindow.windowHandle()->startSystemMove();
    return false;
}

void TMainFrame::ShowRimCursor(const QMouseEvent& event) {
    if (event.buttons() != Qt::NoButton) return;
    const Qt::CursorShape shape = RimCursor(FLayout.EdgesAt(event.position().toPoint()));
    if (shape == Qt::ArrowCursor)
        FWindow.unsetCursor();
    else
        FWindow.setCursor(shape);
}

void TMainFrame::ShowMaximizeTip() {
    if (!FWindow.btnMaximize) return;
    const char* tip = FWindow.isMaximized() ? "Restore" : "Maximize";
    FWindow.btnMaximize->setToolTip(tip);
    FWindow.btnMaximize->setAccessibleName(tip);
}

void TMainFrame::PaintBands() {
    QPainter painter(&FWindow);
    const QRect all = FWindow.rect();
    painter.fillRect(all, skin::Background());
    const int w = all.width();
    QLinearGradient title(0, 0, 0, kTitleRowHeight);
    title.setColorAt(0, QColor(52, 96, 152));
    title.setColorAt(1, skin::Band());
    painter.fillRect(QRect(0, 0, w, kTitleRowHeight), title);
    painter.fillRect(QRect(0, kToolBandTop, w, kToolBandHeight), QColor(30, 62, 106));
    painter.setPen(QColor(60, 98, 146));
    const int toolBandBottom = kToolBandTop + kToolBandHeight - 1;
    const int bottomRows = all.height() - kBottomRowsHeight;
    for (int y : {kTitleRowHeight, kToolBandTop, toolBandBottom, bottomRows})
        painter.drawLine(0, y, w, y);
    painter.setPen(skin::HotFrame());
    painter.drawRect(all.adjusted(0, 0, -1, -1));
}
