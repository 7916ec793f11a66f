// A chain of filters that each frame goes through on its own, one frame in
// and at most one out, built from a filter graph's text. The graph is built
// for the first frame's shape (a picture's size and format, or sound's rate,
// format and channels) and again when the shape changes. Owned and used by
// one thread at a time (the one that decodes the frames).
#pragma once

#include <string>

struct AVFilterContext;
struct AVFilterGraph;
struct AVFrame;

// What a chain is fed.
enum class TChainMedia { Pictures, Sound };

class TFilterChain {
public:
    explicit TFilterChain(TChainMedia media) : FMedia(media) {}
    ~TFilterChain();
    TFilterChain(const TFilterChain&) = delete;
    TFilterChain& operator=(const TFilterChain&) = delete;

    // The filters in a filter graph's text; empty: frames pass untouched.
    void SetText(const std::string& text);
    bool Empty() const { return FText.empty(); }
    // The frame through the chain, valid until the next call. Nullptr when
    // a filter holds it back (a meter that starts late), or when the graph
    // could not be built or a filter failed (then Failed() says so).
    AVFrame* Run(AVFrame* frame);
    bool Failed() const { return FFailed; }

private:
    // What the graph was built for: width, height and pixel format of
    // pictures; rate, channels and sample format of sound.
    struct TShape {
        int First = 0, Second = 0, Format = -1;
        bool operator==(const TShape&) const = default;
    };
    TShape ShapeOf(const AVFrame* frame) const;
    bool Build(const AVFrame* frame);
    bool AddEnds(const AVFrame* frame);
    AVFrame* Fail();
    void Free();

    const TChainMedia FMedia;
    std::string FText;
    AVFilterGraph* FGraph = nullptr;
    AVFilterContext* FSource = nullptr;
    AVFilterContext* FSink = nullptr;
    AVFrame* FOut = nullptr;
    TShape FShape;
    bool FFailed = false;
};

// The "af" chain of decoded sound.
class TAudioChain : public TFilterChain {
public:
    TAudioChain() : TFilterChain(TChainMedia::Sound) {}
};

// A chain of pictures in which no filter may hold a picture back: the tone
// mapping that runs ahead of the frame hook.
class TPictureChain : public TFilterChain {
public:
    TPictureChain() : TFilterChain(TChainMedia::Pictures) {}
};
