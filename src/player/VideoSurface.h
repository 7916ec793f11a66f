// The display of the player: a surface the host provides (a panel of a
// window, an own window, or a recording fake in tests). The pipeline hands it
// every picture to show, already scaled to the rectangle it goes into.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// A 32-bit picture: bytes blue, green, red, 255 per pixel (QImage's RGB32 on
// little-endian machines), row 0 at the top.
struct Bitmap32 {
    int Width = 0;
    int Height = 0;
    int Stride = 0; // bytes per row: Width * 4
    std::vector<std::uint8_t> Data;

    void SetSize(int width, int height) {
        Width = width > 0 ? width : 0;
        Height = height > 0 ? height : 0;
        Stride = Width * 4;
        Data.resize(static_cast<std::size_t>(Stride) * static_cast<std::size_t>(Height));
    }
    std::uint8_t* Row(int y) { return Data.data() + static_cast<std::size_t>(y) * Stride; }
    const std::uint8_t* Row(int y) const {
        return Data.data() + static_cast<std::size_t>(y) * Stride;
    }
};

struct TSurfaceRect {
    int X = 0;
    int Y = 0;
    int Width = 0;
    int Height = 0;
};

// Called by the player's playback thread only (SetMode, Show, Redraw) and by
// the host's thread for the client size. Implementations never wait for the
// host's main thread: they keep a copy and ask for a repaint.
class IVideoSurface {
public:
    virtual ~IVideoSurface() = default;

    // The size of the host's display area (0 x 0 when it has none yet).
    virtual int ClientWidth() const = 0;
    virtual int ClientHeight() const = 0;
    // The display area is (re)made `width` x `height`: the picture is drawn
    // in that coordinate space. False when it cannot be.
    virtual bool SetMode(int width, int height) = 0;
    // Shows `picture` (rect.Width x rect.Height) at `rect`; the rest of the
    // display area is black. The picture is copied before the call returns.
    virtual void Show(const Bitmap32& picture, const TSurfaceRect& rect) = 0;
    // Shows the last picture again.
    virtual void Redraw() = 0;
    // The host reports a new size of its display area through `handler`
    // (set by the player while a file is open, cleared with nullptr).
    virtual void SetResizeHandler(std::function<void(int width, int height)> handler) {
        (void)handler;
    }
};

// Makes the own window of a player opened without a host window; the window
// is captioned `caption` ("FFPlayer"). The GUI installs one; without one a
// player opened without a host has no display.
using TOwnWindowFactory = std::function<std::unique_ptr<IVideoSurface>(const std::string& caption)>;

void SetOwnWindowFactory(TOwnWindowFactory factory);
std::unique_ptr<IVideoSurface> MakeOwnWindow(const std::string& caption);
