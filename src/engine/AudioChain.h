// A chain of audio filters that each block of samples goes through on its
// own, one block in and one out (every filter of the chain hands each block
// on at once: gain, limiting, loudness measurement): the "af" option. The
// graph is built for the first block's rate, format and channels, and again
// when they change. Owned and used by the conversion's thread only.
#pragma once

#include <string>

struct AVFilterContext;
struct AVFilterGraph;
struct AVFrame;

class TAudioChain {
public:
    TAudioChain() = default;
    ~TAudioChain();
    TAudioChain(const TAudioChain&) = delete;
    TAudioChain& operator=(const TAudioChain&) = delete;

    // The filters in a filter graph's text; empty: samples pass untouched.
    void SetText(const std::string& text);
    bool Empty() const { return FText.empty(); }
    // The samples through the chain, valid until the next call; nullptr
    // when a filter holds them back (a meter that starts late) or fails.
    AVFrame* Run(AVFrame* samples);
    // The graph could not be built or a filter failed.
    bool Failed() const { return FFailed; }

private:
    bool Build(const AVFrame* samples);
    bool Matches(const AVFrame* samples) const;
    void Free();

    std::string FText;
    AVFilterGraph* FGraph = nullptr;
    AVFilterContext* FSource = nullptr;
    AVFilterContext* FSink = nullptr;
    AVFrame* FOut = nullptr;
    int FRate = 0, FFormat = -1, FChannels = 0;
    bool FFailed = false;
};
