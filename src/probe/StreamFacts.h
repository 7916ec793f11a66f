// What a person asks about a stream of an open probe, in the words they
// use: the codec's common name with its profile ("H.264 (High)"), the
// frame rate as a number of frames per second and the number of frames.
//
//   TStreamFacts facts;
//   if (GetStreamFacts(probe, probe.FirstVideoStreamIndex(), facts))
//       show(facts.CodecTitle, FrameRateText(facts.FrameRate));
//
// Used from the probe's thread, like the probe itself.
#pragma once

#include <cstdint>
#include <string>

class TCustomAVProbe;

struct TStreamFacts {
    std::string CodecTitle;           // "H.264 (High)", "MP2", "AAC (LC)"
    double FrameRate = 0.0;           // frames per second; 0 when unknown or not video
    std::int64_t FrameCount = -1;     // -1 when unknown
    bool FrameCountEstimated = false; // counted from duration x frame rate
};

// Fills `facts` for the stream; false (and `facts` as constructed) when the
// probe has no file or no such stream.
bool GetStreamFacts(TCustomAVProbe& probe, int streamIndex, TStreamFacts& facts);

// The codec's common name: its long name up to the first " / " or " (",
// followed by the profile in brackets when the stream has one.
std::string CodecTitleOf(const std::string& longName, const std::string& profile);

// "25", "29.97", "23.976": at most three decimals, no trailing zeros;
// empty for 0 or less.
std::string FrameRateText(double rate);

// "150", or "about 150" for an estimate; empty when unknown.
std::string FrameCountText(std::int64_t count, bool estimated);
