#include "app/PreviewWindow.h"

#include "media/FFUtils.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QWindow>

TPreviewForm::TPreviewForm(const QSize& clientSize, std::function<void()> onClosed)
    : QWidget(nullptr, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint |
                           Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      FOnClosed(std::move(onClosed)) {
    setObjectName("frmPreviewer");
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFixedSize(clientSize);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void TPreviewForm::ShowPicture(const Bitmap24& bitmap, int64_t pts) {
    FPicture = QImage(bitmap.Data.data(), bitmap.Width, bitmap.Height, bitmap.Stride,
                      QImage::Format_BGR888)
                   .copy();
    setWindowTitle(QString::fromStdString(DurationToText(pts)));
    update();
}

void TPreviewForm::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    painter.drawImage(0, 0, FPicture);
}

// The picture stands in for the title bar: pressing on it moves the window.
void TPreviewForm::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && windowHandle()) windowHandle()->startSystemMove();
    QWidget::mousePressEvent(event);
}

void TPreviewForm::closeEvent(QCloseEvent* event) {
    if (FOnClosed) FOnClosed();
    event->accept();
}

TPreviewWindow::TPreviewWindow() = default;
TPreviewWindow::~TPreviewWindow() = default;

bool TPreviewWindow::Show(const Bitmap24& bitmap, int, int64_t pts) {
    if (FClosed) return false;
    if (!FForm) {
        FForm = std::make_unique<TPreviewForm>(QSize(bitmap.Width, bitmap.Height),
                                               [this] { FClosed = true; });
        FForm->show();
    }
    FForm->ShowPicture(bitmap, pts);
    return true;
}

void InstallPreviewWindows() {
    SetPreviewWindowFactory([] { return std::make_unique<TPreviewWindow>(); });
}
