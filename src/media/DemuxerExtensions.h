// The file name extensions of the video and audio files the loaded format
// library can read, from its demuxers' extension lists.
#pragma once

#include <string>
#include <vector>

// What a demuxer says of itself.
struct TDemuxerInfo {
    std::string Name;       // "mov,mp4,m4a,3gp,3g2,mj2"
    std::string LongName;   // "QuickTime / MOV"
    std::string Extensions; // "mov,mp4,m4a,..." or empty
};

// The extensions (lower case, without the dot, sorted, each once) of the
// demuxers' lists, together with the usual extensions of the demuxers that
// list none but are named below (MPEG-TS: ts, mts, m2ts; Ogg: opus, oga,
// ogv; WAV; ASF: wmv, wma; ...). Demuxers of subtitles, captions, lyrics,
// text art and single pictures are left out: they hold no video or audio.
std::vector<std::string> MediaExtensionsOf(const std::vector<TDemuxerInfo>& demuxers);

// Every demuxer of the loaded format library; empty when it is not loaded.
std::vector<TDemuxerInfo> LoadedDemuxers();

// MediaExtensionsOf(LoadedDemuxers()).
std::vector<std::string> ReadableMediaExtensions();
