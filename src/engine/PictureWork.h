// The work on each decoded picture before the outputs get it: turning it
// upright, tone-mapping an HDR picture ahead of the hook, deinterlacing and
// the frame hook (the host's callback, or the hook modules). One per
// conversion; its streams are the conversion's input streams, by index.
//
// Threads: everything here belongs to the one thread that calls Work (the
// task's thread, or the thread that works on the pictures), set up before
// it starts; Pictures() is read from any thread.
#pragma once

#include "engine/FFmpeg.h"
#include "engine/FilterChain.h"
#include "engine/StageFault.h"
#include "media/FFHandles.h"
#include "media/FFUtils.h"
#include "media/PicturePool.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// A picture on its way through the picture stage: the decoded one going
// in, the one worked on coming out, with what the outputs read of it.
struct TPictureItem {
    ff::FramePtr Frame;
    int Stream = 0;  // input stream index
    int64_t Pts = 0; // microseconds
    int Quality = 0; // of the decoded picture
    int Counted = 0; // out: Pictures() once this one was worked on
    // out: worked on before the task was stopped (handed on even so, as
    // the task's thread would have done).
    bool BeforeStop = true;
};

class TPictureWork {
public:
    // Where the hook is: the callback is cleared, and the modules turned
    // off, for the rest of the conversion once a hook asks to stop.
    struct THooks {
        TCustomFFmpeg* Task; // handed to the callback
        TEngineHookCallback& Callback;
        TFrameHookList& Modules;
        bool ModulesOn = false;
    };
    using TLog = std::function<void(int level, const std::string& text)>;

    TPictureWork(THooks hooks, bool deinterlace, TLog log);
    ~TPictureWork();
    TPictureWork(const TPictureWork&) = delete;
    TPictureWork& operator=(const TPictureWork&) = delete;

    // Input stream `index` (#file.stream) shows its pictures turned
    // `rotation` degrees clockwise (0, 90, 180 or 270).
    void AddStream(int index, int file, int stream, int rotation);
    // Stream `index`'s pictures go through the filters `text` (no filter
    // holding a picture back) before the hook sees them.
    void ToneMapAheadOfHook(int index, const std::string& text);
    bool HookOn() const;
    bool ModulesOn() const { return FModulesOn; }

    // The picture of stream `index` worked on: `decoded` itself, or a frame
    // of ours valid until the next call. `pts`: microseconds, for the hook.
    // Raises FFmpegException.
    AVFrame* Work(int index, AVFrame* decoded, int64_t pts);
    // Pictures that came to Work.
    int Pictures() const { return FPictures.load(std::memory_order_relaxed); }
    // Whether Work can change a picture (else it only counts them).
    bool Changes() const;

private:
    struct TGraphFree {
        void operator()(AVFilterGraph* graph) const;
    };
    using TGraphPtr = std::unique_ptr<AVFilterGraph, TGraphFree>;
    // A filter between a buffer source and a sink, built for one shape.
    struct TOneFilter {
        TGraphPtr Graph;
        AVFilterContext* Source = nullptr;
        AVFilterContext* Sink = nullptr;
        int Width = 0, Height = 0, Format = -1;
        bool Fits(const AVFrame* picture) const;
        bool Build(const AVFrame* picture, const char* filters);
    };
    struct TStreamPictures {
        std::string Name; // "#file.stream"
        int Rotation = 0;
        TOneFilter Turn;
        ff::FramePtr Upright;
        std::unique_ptr<TPictureChain> ToneMap;
    };

    TStreamPictures& Stream(int index);
    AVFrame* TurnUpright(TStreamPictures& stream, AVFrame* picture);
    AVFrame* ToneMap(TStreamPictures& stream, AVFrame* picture);
    AVFrame* PreProcess(AVFrame* picture, int64_t pts);
    bool Deinterlace(const AVFrame* source, AVFrame* target);
    static bool HookRewritesWholePicture(const AVFrame& picture);
    bool CallHook(const AVFrame* source, AVFrame* target, int64_t pts);
    Bitmap24* ToBitmap(const AVFrame& picture);
    bool PutBack(AVFrame* picture, Bitmap24& bitmap);
    Bitmap24* ToCanvas(const AVFrame& picture);
    bool FromCanvas(AVFrame* picture);
    bool FromRGBScaler(const AVFrame& picture);
    void RoomAfterCanvas();

    THooks FHooks;
    bool FModulesOn;
    const bool FDeinterlace;
    TLog FLog;
    std::vector<TStreamPictures> FStreams;
    std::atomic<int> FPictures{0};
    TStageFault FFault{"picture"};
    ff::FramePtr FBuffer; // the picture the hook works on
    TPicturePool FBufferPool;
    TOneFilter FDeinterlacer;
    ff::FramePtr FDeinterlaced;
    TToRGBContext FToRGB;        // a BGR picture's bitmap
    ff::SwsContextPtr FToCanvas; // other pictures into FCanvas
    Bitmap24 FCanvas;            // their bitmap, with room after the rows
    ff::SwsContextPtr FFromRGB;
};
