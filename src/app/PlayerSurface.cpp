#include "app/PlayerSurface.h"

#include <QMetaObject>
#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>

#include <cstring>

TPlayerSurface::TPlayerSurface(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAccessibleName("FFPlayer");
    FClientWidth = width();
    FClientHeight = height();
}

TPlayerSurface::~TPlayerSurface() = default;

bool TPlayerSurface::SetMode(int width, int height) {
    if (width <= 0 || height <= 0) return false;
    {
        std::lock_guard lock(FLock);
        FModeWidth = width;
        FModeHeight = height;
        FPicture = QImage();
    }
    RequestRepaint();
    return true;
}

void TPlayerSurface::Show(const Bitmap32& picture, const TSurfaceRect& rect) {
    QImage copy(picture.Width, picture.Height, QImage::Format_RGB32);
    for (int y = 0; y < picture.Height; ++y)
        std::memcpy(copy.scanLine(y), picture.Row(y), static_cast<std::size_t>(picture.Width) * 4);
    {
        std::lock_guard lock(FLock);
        FPicture = std::move(copy);
        FRect = rect;
    }
    ++FReceived;
    RequestRepaint();
}

void TPlayerSurface::Redraw() {
    RequestRepaint();
}

void TPlayerSurface::SetResizeHandler(std::function<void(int, int)> handler) {
    std::lock_guard lock(FLock);
    FResizeHandler = std::move(handler);
}

QImage TPlayerSurface::Picture() const {
    std::lock_guard lock(FLock);
    QImage area(FModeWidth > 0 ? FModeWidth : 1, FModeHeight > 0 ? FModeHeight : 1,
                QImage::Format_RGB32);
    area.fill(Qt::black);
    QPainter painter(&area);
    if (!FPicture.isNull()) painter.drawImage(FRect.X, FRect.Y, FPicture);
    return area;
}

void TPlayerSurface::RequestRepaint() {
    // Any thread: the repaint happens on the widget's thread.
    QMetaObject::invokeMethod(
        this, [this] { update(); }, Qt::QueuedConnection);
}

void TPlayerSurface::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    std::lock_guard lock(FLock);
    if (FPicture.isNull() || FModeWidth <= 0 || FModeHeight <= 0) return;
    double sx = static_cast<double>(width()) / FModeWidth;
    double sy = static_cast<double>(height()) / FModeHeight;
    QRectF target(FRect.X * sx, FRect.Y * sy, FRect.Width * sx, FRect.Height * sy);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, sx != 1.0 || sy != 1.0);
    painter.drawImage(target, FPicture);
}

void TPlayerSurface::resizeEvent(QResizeEvent* event) {
    FClientWidth = event->size().width();
    FClientHeight = event->size().height();
    std::function<void(int, int)> handler;
    {
        std::lock_guard lock(FLock);
        handler = FResizeHandler;
    }
    if (handler && FClientWidth > 0 && FClientHeight > 0) handler(FClientWidth, FClientHeight);
    QWidget::resizeEvent(event);
}

void InstallPlayerWindowFactory() {
    SetOwnWindowFactory([](const std::string& caption) -> std::unique_ptr<IVideoSurface> {
        auto window = std::make_unique<TPlayerSurface>();
        window->setWindowTitle(QString::fromStdString(caption));
        window->resize(640, 480);
        window->show();
        return window;
    });
}
