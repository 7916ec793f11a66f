// The video filter graph of an output stream: the decoded (upright) picture
// in, the encoder's picture out, with the crop bands, the options' filters,
// the tone mapping and the scaling in between.
#pragma once

#include "engine/TranscoderStreams.h"

#include <string>

// What the graph reads of the conversion's options.
struct TVideoFilterOptions {
    std::string Filters;            // the user's filter text; empty: none
    bool FrameSizeOfTarget = false; // the output size is a target's
    int SwsFlags = 0;               // the scaler's flags
};

// Builds ost.Video's graph (source, sink, the filters between) for pictures
// of `ist`; the encoder's size becomes the graph's output size. On failure
// the graph is dropped, -1 returned and `error` tells what the filter text
// did wrong (empty when the failure is elsewhere).
int BuildVideoFilterGraph(const TInputStream& ist, TOutputStream& ost,
                          const TVideoFilterOptions& options, std::string& error);
