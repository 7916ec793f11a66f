// The colour of a conversion's encoded pictures, set when the encoders are
// prepared: HDR sources (PQ, HLG) are tone-mapped to SDR BT.709, inside the
// output stream's filter graph or ahead of the frame hook when one is on,
// and the output is tagged so; with KeepHdr a deep source keeps its depth,
// colours and HDR metadata, unless the hook edits its HDR pictures (those
// are tone-mapped and written as SDR all the same); SDR sources pass
// untouched.
//
// Threads: the task's thread, during the set-up.
#pragma once

#include "engine/PictureWork.h"
#include "engine/TranscoderStreams.h"
#include "media/ToneMap.h"

class TColourSetup {
public:
    // `pictureWork` outlives this; `keepHdr`: the option that keeps HDR.
    TColourSetup(bool keepHdr, TPictureWork& pictureWork);

    // With KeepHdr, the encoder's pixel format for `ist`'s depth, where the
    // encoder offers it.
    void KeepSourceDepth(const TInputStream& ist, TOutputStream& ost) const;
    // The colours of `ost`, encoded from input stream `index` (`ist`) of
    // `input`: kept, or the tone mapping chosen (ost.Video.ToneMap, or the
    // picture work's ahead of the hook) and the encoder tagged BT.709.
    void Prepare(const TInputStream& ist, int index, const AVFormatContext& input,
                 TOutputStream& ost);
    // An HDR input stream `index` (`ist`) is tone-mapped ahead of the hook,
    // when the hook is on.
    void ToneMapAheadOfHook(const TInputStream& ist, int index);

private:
    bool KeepsHdr(const TOutputStream& ost) const;
    bool EditsDropHdr(const TInputStream& ist, const TColourDescription& colour) const;
    static void KeepHdrColours(const TInputStream& ist, const AVFormatContext& input,
                               TOutputStream& ost);
    static void PassHdrMetadata(const TInputStream& ist, const AVFormatContext& input,
                                TOutputStream& ost);

    const bool FKeepHdr;
    TPictureWork& FPictureWork;
};
