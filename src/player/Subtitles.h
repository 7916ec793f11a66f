// The player's subtitles: the subtitle thread decodes bitmap subtitles into
// the subpicture queue and hands text subtitles to the text renderer; the
// display blends the subtitle due into the picture; after a seek the text
// subtitles still due at the target are read again from a second reading of
// the file.
#pragma once

#include "media/FFHandles.h"
#include "media/FFmpegHeaders.h"
#include "player/FFPlayText.h"
#include "player/PacketQueue.h"
#include "player/PictureQueue.h"
#include "player/SubPictureQueue.h"

#include <atomic>
#include <memory>
#include <string>

// Open, Seeked and Close on the read thread; Run on the subtitle thread;
// Expire and Blend on the playback thread. The queue and the text renderer
// lock themselves; the lookback reading is the read thread's.
class TSubtitles {
public:
    // `abort` ends the lookback reading.
    TSubtitles(TPacketQueue& packets, const std::atomic<bool>& abort);
    ~TSubtitles();
    TSubtitles(const TSubtitles&) = delete;
    TSubtitles& operator=(const TSubtitles&) = delete;

    struct TSource {
        AVCodecContext* Codec = nullptr; // open
        AVStream* Stream = nullptr;
        int StreamIndex = -1;
        int VideoIndex = -1;  // read along in the lookback
        std::string FileName; // read again for the lookback
        AVIOInterruptCB Interrupt{};
    };
    // Empty, or why text subtitles cannot be drawn (bitmap ones still can).
    std::string Open(const TSource& source);
    // Decodes until the packet queue is aborted; waits while `paused` unless
    // `pausedAtSeek`.
    void Run(const std::atomic<bool>& paused, const std::atomic<bool>& pausedAtSeek);
    // A seek to `exact` seconds (-1: not a time) was made: the text events
    // are forgotten and those still due at `exact` read again.
    void Seeked(double exact);
    // Before the subtitle thread is joined: its waits end.
    void Abort();
    void Close();

    // Drops the subtitles whose time is over at `picturePts`.
    void Expire(double picturePts);
    // Blends the subtitle due into `slot` (its overlay lock held), once.
    void Blend(TPictureSlot& slot);

private:
    bool OpenLookback();
    void CatchUp(double target);

    TPacketQueue& FPackets;
    const std::atomic<bool>& FAbort;
    TSource FSource;
    std::atomic<bool> FOpen{false};
    // Decoded bitmap subtitles (subtitle thread fills, playback thread
    // blends).
    TSubPictureQueue FPictures;
    // Made at the open when the decoder gives text.
    std::unique_ptr<TTextSubtitles> FText;
    // Read thread.
    ff::InputContextPtr FLookback;
    ff::CodecContextPtr FLookbackCodec;
    bool FLookbackFailed = false;
};
