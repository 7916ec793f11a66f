// The player's display in the GUI: a widget that paints the last picture the
// player handed over, keeps it for repaints (a paused player draws nothing
// new), scales the player's display area to the widget, and leaves mouse
// clicks to its parent. Also the own window of a player opened without a host.
#pragma once

#include "player/VideoSurface.h"

#include <QImage>
#include <QWidget>

#include <atomic>
#include <functional>
#include <mutex>

class TPlayerSurface : public QWidget, public IVideoSurface {
    Q_OBJECT
public:
    explicit TPlayerSurface(QWidget* parent = nullptr);
    ~TPlayerSurface() override;

    int ClientWidth() const override { return FClientWidth.load(); }
    int ClientHeight() const override { return FClientHeight.load(); }
    bool SetMode(int width, int height) override;
    void Show(const Bitmap32& picture, const TSurfaceRect& rect) override;
    void Redraw() override;
    void SetResizeHandler(std::function<void(int width, int height)> handler) override;

    // A copy of what the widget shows (display area coordinates).
    QImage Picture() const;
    int PicturesReceived() const { return FReceived.load(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void RequestRepaint();

    mutable std::mutex FLock; // guards FPicture, FRect, FModeWidth/Height, FResizeHandler
    QImage FPicture;
    TSurfaceRect FRect;
    int FModeWidth = 0;
    int FModeHeight = 0;
    std::function<void(int, int)> FResizeHandler;
    std::atomic<int> FClientWidth{0}, FClientHeight{0};
    std::atomic<int> FReceived{0};
};

// Installs the factory of the players' own windows: a top-level
// TPlayerSurface captioned as asked ("FFPlayer"), 640 x 480, shown.
void InstallPlayerWindowFactory();
