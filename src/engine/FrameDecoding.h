// Decoding the input streams on threads of their own: each sound and
// picture stream that is decoded gets a TDecodeStage, fed with its packets
// by the task's thread. The task's thread takes the decoded frames back in
// decoding order, with the packet time each was decoded at, and hands them
// on as it does with the frames it decodes itself; each output stream sees
// the same frames in the same order, so the files are the same.
//
// Threads: the task's thread calls every method and the hand-on; a
// stream's decoder context is its stage's thread's while the stage runs
// (TDecodeStage).
#pragma once

#include "engine/StageControl.h"
#include "engine/TranscoderStreams.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

// What the decoding reads of the conversion's options.
struct TDecodingOptions {
    bool Shortest = false;          // the output ends with the shortest input
    std::array<int, 4> MaxFrames{}; // by media type; INT_MAX: no limit
    int64_t LimitFileSize = 0;      // bytes of the output file; 0: no limit
    int Verbose = 0;
};

class TFrameDecoding {
public:
    // Hands a decoded frame of a stream on, with the stream's packet time
    // when it was decoded.
    using TDeliver = std::function<void(TInputStream&, AVFrame*, int64_t)>;

    TFrameDecoding(const TDecodingOptions& options, TStageControl control, TDeliver deliver);
    TFrameDecoding(const TFrameDecoding&) = delete;
    TFrameDecoding& operator=(const TFrameDecoding&) = delete;

    // Whether a staged conversion with `inputFiles` inputs and `outputs`
    // may decode on the streams' threads: the frames reach the outputs
    // later, which matters where the outputs' own clock or size is read to
    // choose the next input or to end (frame limits, the shortest input, a
    // stream kept in step with another, the file size limit).
    bool Allowed(bool staged, std::size_t inputFiles,
                 const std::vector<TOutputStream>& outputs) const;
    // A thread for each sound and picture stream of `streams` that is
    // decoded; the streams outlive the stages.
    void Start(std::vector<TInputStream>& streams);
    // Gives `packet` (null: the drain at the end) to the stream's thread
    // and hands on every frame that is ready; a drain waits for all of
    // them. -1 when the decoder refused a packet. Only for a stream with
    // a stage (ist.Decoding).
    int Decode(TInputStream& ist, const AVPacket* packet);
    // Ends the stream's stage (the frames it decoded and did not hand on
    // are dropped); the decoder is the task's thread's again.
    static void End(TInputStream& ist);
    // Says once (or each time, very verbose) that a packet gave several
    // frames, unless frame threads make that the rule.
    void NoteMultipleFrames(TInputStream& ist) const;

private:
    int Take(TInputStream& ist);

    const TDecodingOptions FOptions;
    const TStageControl FControl;
    const TDeliver FDeliver;
};
