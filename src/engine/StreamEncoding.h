// Encoding the output streams and writing what the encoders make. Each
// sound and picture output stream that is encoded may get a thread of its
// own (TEncodeStage), fed through a short queue: a picture stream's thread
// codes the pictures fitted to the encoder's size and format, while the
// task's thread works on the next ones. The frames reach each
// encoder in the same order as on one thread, and the muxer orders the
// packets of all streams by time, so the files are the same byte for byte.
//
// The task's thread fits the pictures to the encoder unless it works on
// them itself (the hook, say): then the picture streams' threads do, so
// that the two share the work.
//
// Threads: the task's thread calls Start, Send, Give, Flush and Stop; Encode
// and Receive run on whichever thread owns the stream's encoder (its
// stage's while the stage runs, else the task's). The packet writer has its
// own lock (PacketWriter.h); the coded pictures' numbers in the stream are
// written under it.
#pragma once

#include "engine/PacketWriter.h"
#include "engine/StageControl.h"
#include "engine/TranscoderStreams.h"

#include <cstdint>
#include <functional>
#include <vector>

class TStreamEncoding {
public:
    // What becomes of a picture on its stream's thread: fitted to the
    // encoder (with Video.FitOnStage; null: dropped), then coded once per
    // copy.
    struct TPictureCoding {
        std::function<void(TOutputStream&, const AVFrame*, int64_t pts, int quality,
                           int frameCounter)>
            Code;
        std::function<const AVFrame*(TOutputStream&, const TInputStream&, AVFrame*)> Fit;
    };
    // Told each coded picture's packet size (the statistics file); may be
    // empty.
    using TVideoStats = std::function<void(TOutputStream&, int)>;

    // `writer` outlives this.
    TStreamEncoding(TPacketWriter& writer, TStageControl control, TPictureCoding pictures,
                    TVideoStats videoStats);
    TStreamEncoding(const TStreamEncoding&) = delete;
    TStreamEncoding& operator=(const TStreamEncoding&) = delete;

    // Some outputs need the encoder's results at once on the task's thread:
    // the size limit reads the file as it grows, and the statistics file
    // the frame counts next to each coded picture. On one core the
    // hand-overs would only cost time, as for the reading and decoding.
    static bool StagesAllowed(bool staged, int64_t limitFileSize, bool videoStats);
    // A thread for each open sound and picture encoder of `streams`, which
    // outlive the stages and keep their places. With `fitPictures` (the
    // task's thread has work of its own on each picture) the picture
    // streams' threads fit the pictures too.
    void Start(std::vector<TOutputStream>& streams, bool fitPictures);
    // Hands a sound frame (its pts set) to the stream's encoder, on its
    // thread if it has one; the caller keeps `frame`.
    void Send(TOutputStream& ost, AVFrame* frame);
    // Hands a picture of `ist` to the stream's thread (fitted, unless the
    // thread fits it), to be coded `copies` times from the stream's next
    // time stamp; the stream's time stamps and
    // counts go on at once, as the task's thread decides by them.
    void Give(TOutputStream& ost, const TInputStream& ist, AVFrame* picture, int copies,
              int frameCounter);
    // Codes `frame` (null: the encoder's drain) and writes its packets.
    void Encode(TOutputStream& ost, AVFrame* frame);
    // Writes every packet the stream's encoder has ready.
    void Receive(TOutputStream& ost);
    // Waits until the stream's thread has coded every frame given to it; the
    // encoder is then the task's thread's again. Raises the stage's error.
    static void Flush(TOutputStream& ost);
    // Ends the threads; what still waits is dropped.
    void Stop();

private:
    void WorkOnItem(TOutputStream& ost, TEncodeItem& item);

    TPacketWriter& FWriter;
    const TStageControl FControl;
    const TPictureCoding FPictures;
    const TVideoStats FVideoStats;
    std::vector<TOutputStream*> FStaged; // the streams given a thread (task's thread)
};
