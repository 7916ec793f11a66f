// A chain of video filters that each picture goes through on its own, one
// picture in and one out (no filter of the chain may hold pictures back):
// the tone mapping that runs ahead of the frame hook. The graph is built for
// the first picture's size and format, and again when they change. Owned
// and used by the conversion's thread only.
#pragma once

#include <string>

struct AVFilterContext;
struct AVFilterGraph;
struct AVFrame;

class TPictureChain {
public:
    TPictureChain() = default;
    ~TPictureChain();
    TPictureChain(const TPictureChain&) = delete;
    TPictureChain& operator=(const TPictureChain&) = delete;

    // The filters in a filter graph's text; empty: pictures pass untouched.
    void SetText(const std::string& text);
    bool Empty() const { return FText.empty(); }
    // The picture through the chain, valid until the next call; nullptr
    // when the graph cannot be built or a filter fails.
    AVFrame* Run(AVFrame* picture);

private:
    bool Build(const AVFrame* picture);
    void Free();

    std::string FText;
    AVFilterGraph* FGraph = nullptr;
    AVFilterContext* FSource = nullptr;
    AVFilterContext* FSink = nullptr;
    AVFrame* FOut = nullptr;
    int FWidth = 0, FHeight = 0, FFormat = -1;
};
