// The host's hook on the pictures of the video thread: each picture handed
// over as a 24-bit bitmap, what the host drew on it put back into the
// picture, and the guard that lets a close give up on a host that does not
// return from its handler.
//
//   if (!hook.Run(picture, [&](Bitmap24& bitmap) { ... }, log)) return; // closed
#pragma once

#include "media/FFUtils.h"

#include <functional>
#include <mutex>
#include <string>

// The conversions and Enter / Leave run on the video thread; Abandon on the
// thread that closes the file. FExitLock guards FInHook and FAbandoned.
class TPictureHook {
public:
    // Hands `picture` to `handler` as a bitmap and puts what it drew back.
    // What fails (no conversion, the handler threw) goes to `failed`, and
    // the picture stays as it was. False when a close gave up on the handler
    // meanwhile: then nothing else is called and the caller touches nothing
    // of the player.
    bool Run(AVFrame* picture, const std::function<void(Bitmap24&)>& handler,
             const std::function<void(const std::string&)>& failed);

    // The picture as the bitmap; false when no conversion can be had.
    bool ToBitmap(const AVFrame* picture);
    Bitmap24& Bitmap() { return *FContext.Bitmap; }
    // The bitmap converted back into `picture`, unless the host changed its
    // size; false when no conversion can be had.
    bool PutBack(AVFrame* picture);

    // Around the host's handler. Leave is false when a close gave up on the
    // handler meanwhile: the caller then touches nothing of the player.
    void Enter();
    bool Leave();
    // A close that has waited long enough: true when the handler still runs,
    // which is then given up on; false when the thread is busy elsewhere.
    bool Abandon();

private:
    TToRGBContext FContext;
    std::mutex FExitLock;
    bool FInHook = false;
    bool FAbandoned = false;
};
