// The engine's own preview window on the desktop: a small tool window that
// stays on top, shows the last encoded picture at its own size with the
// frame time in its title, and can be dragged by the picture.
#pragma once

#include "engine/FFmpegPreview.h"

#include <QImage>
#include <QWidget>
#include <functional>
#include <memory>

// The window itself. Its client area keeps the size it was created with.
class TPreviewForm : public QWidget {
    Q_OBJECT
public:
    TPreviewForm(const QSize& clientSize, std::function<void()> onClosed);

    // Takes a copy of the picture, sets the caption and repaints.
    void ShowPicture(const Bitmap24& bitmap, int64_t pts);
    const QImage& Picture() const { return FPicture; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    QImage FPicture;
    std::function<void()> FOnClosed;
};

// IPreviewWindow over a TPreviewForm made with the first picture. Every call
// runs on the main thread.
class TPreviewWindow : public IPreviewWindow {
public:
    TPreviewWindow();
    ~TPreviewWindow() override;

    bool Show(const Bitmap24& bitmap, int frameNumber, int64_t pts) override;
    TPreviewForm* Form() const { return FForm.get(); }

private:
    std::unique_ptr<TPreviewForm> FForm;
    bool FClosed = false;
};

// Makes the engine create TPreviewWindow windows.
void InstallPreviewWindows();
