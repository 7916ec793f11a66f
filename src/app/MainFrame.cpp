#include "app/MainFrame.h"

#include "app/MainLayout.h"
#include "app/winMain.h"

#include <QMouseEvent>
#include <QWindow>

namespace {

constexpr int kTitleRowHeight = 32;

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
