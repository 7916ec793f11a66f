// The main window's frame: the maximise button, the rim's cursors, a
// double click on the title row; the sizes and places are MainLayout.h's.
#include "app/winMain.h"

#include "app/MainLayout.h"

#include <QMouseEvent>

namespace {

constexpr int kTitleRowHeight = 32;

} // namespace

void TfrmMain::btnMaximizeClick() {
    if (isMaximized())
        showNormal();
    else
        showMaximized();
}

// The position bar counts in pixels of its own width (its maximum is its
// width): a wider bar keeps showing the same time.

void TfrmMain::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (FLayout) FLayout->LayOut();
}

void TfrmMain::mouseMoveEvent(QMouseEvent* event) {
    if (event->buttons() == Qt::NoButton) {
        const Qt::Edges edges =
            FLayout ? FLayout->EdgesAt(event->position().toPoint()) : Qt::Edges();
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

// A stored place is taken when its title row lies on a screen; on a screen
// that can hold the designed size the window is also kept inside it. No
// stored place, or one smaller than the design: centred at the design size.
