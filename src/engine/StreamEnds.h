// Where the streams of a source end as the source declares it, for -shortest:
// the conversion ends where the first of its pictures and sounds ends.
#pragma once

#include "media/FFmpegHeaders.h"

#include <cstdint>
#include <limits>

// No end known: the conversion runs to the end of its inputs.
inline constexpr int64_t kNoStreamEnd = std::numeric_limits<int64_t>::max();

// Where `stream` ends (microseconds, before its file's offset) as its source
// declares it: the length Matroska writes in the stream's tags (its stream
// length is the file's), else the stream's start and length;
// AV_NOPTS_VALUE when not told (an empty track's length of 0 tells nothing).
int64_t DeclaredStreamEnd(const AVStream* stream);

// Whether `stream` of input `file` has no end of its own: a cover picture,
// or a picture read over and over.
bool EndlessStream(const AVStream* stream, const AVFormatContext* file);

// Whether `packet` of a stream in `timeBase` is decoded at or after `end`
// (microseconds). The decoding time decides, so that a picture shown before
// the end but stored after one past it is still decoded.
bool DecodedPastEnd(const AVPacket* packet, AVRational timeBase, int64_t end);
