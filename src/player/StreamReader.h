// The read thread of one open file: it opens the input, chooses the streams
// and opens their decoders, reads packets into their queues (seeks
// included) until the close, and closes everything behind it.
//
//   is->ReadThread = std::thread([=] { TStreamReader(*is, options, links).Run(file); });
#pragma once

#include "player/FFPlayPipeline.h"
#include "player/StreamComponents.h"

#include <string>

// What the host asked to play.
struct TReadOptions {
    std::string VideoSize; // "WxH" for inputs that take a size; empty: none
    bool DisableAudio = false;
    bool DisableVideo = false;
    bool DisableDisplay = false;
};

// Runs on the read thread and lives as long as it. It tells the opening host
// call how the open went through OpenStatus (and OpenError before a
// failure), and the conductor what the reading met through IPipelineOwner.
class TStreamReader {
public:
    TStreamReader(TPlaybackState& is, TReadOptions options, const TComponentLinks& links)
        : Is(is), FOptions(std::move(options)), FOwner(links.Owner), FSender(links.Sender),
          FComponents(is, links) {}

    void Run(const std::string& fileName);

private:
    bool OpenInput(const std::string& fileName);
    void ChooseStreams();
    void End(int result);

    TPlaybackState& Is;
    TReadOptions FOptions;
    IPipelineOwner& FOwner;
    TFFBaseComponent* FSender; // logs
    TStreamComponents FComponents;
};
