// The decoders of an open file's streams: opening one with what runs it
// (the video thread, the sound's device, the subtitle thread) and closing it
// again once that has ended.
//
//   TStreamComponents components(is, links);
//   components.Open(videoIndex); ... components.CloseAll();
#pragma once

#include "media/FFBaseComponent.h"
#include "player/FFPlayPipeline.h"

#include <atomic>

// What the decoders follow besides the pipeline, all owned by the component:
// the sound's mute and volume (read at each callback of the device), who
// logs, the count of pictures skipped to catch up, and the conductor.
struct TComponentLinks {
    const std::atomic<bool>& Mute;
    const std::atomic<int>& Volume;
    TFFBaseComponent* Sender;
    std::atomic<int>& Skipped;
    IPipelineOwner& Owner;
};

// Read thread only: it writes the pipeline's stream choice (the streams,
// their decoders and VideoOpen in TPlaybackState), and starts and joins the
// video and subtitle threads.
class TStreamComponents {
public:
    TStreamComponents(TPlaybackState& is, const TComponentLinks& links) : Is(is), FLinks(links) {}

    // 0 when the stream plays; -1 when it cannot (the reason is reported).
    int Open(int streamIndex);
    // Ends what runs the stream's decoder, then closes the decoder.
    void Close(int streamIndex);
    // Closes every open stream and the subtitles' renderer.
    void CloseAll();

private:
    ff::CodecContextPtr OpenDecoder(AVStream* stream);
    void StartVideo(int streamIndex, AVStream* stream, ff::CodecContextPtr codec);
    void StartAudio(int streamIndex, AVStream* stream, ff::CodecContextPtr codec);
    void StartSubtitle(int streamIndex, AVStream* stream, ff::CodecContextPtr codec);
    void JoinVideoThread();

    TPlaybackState& Is;
    TComponentLinks FLinks;
};
