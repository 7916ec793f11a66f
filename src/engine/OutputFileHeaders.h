// The output files' side of a conversion's start: the tags and chapters
// they take from the inputs, and their headers.
//
// Threads: the task's thread, during the set-up.
#pragma once

#include "engine/FFmpegOptions.h"
#include "media/FFmpegHeaders.h"

#include <cstdint>
#include <vector>

// An input file as the output files' headers see it.
struct THeaderSource {
    const AVFormatContext* Context = nullptr;
    int64_t TsOffset = 0; // microseconds added to its times
};

// The tags each map names go to its output; without maps every output
// takes the first input's (title, artist, dates...; what describes only
// the source file stays behind). Raises FFmpegException on a map that
// names no file.
void CopyTags(const std::vector<TMetaDataMap>& maps, const std::vector<THeaderSource>& inputs,
              const std::vector<AVFormatContext*>& outputs);

// Every input's chapters to every output, moved by the start point and cut
// at the recording time (microseconds; INT64_MAX: no limit).
void CopyChapters(const std::vector<THeaderSource>& inputs,
                  const std::vector<AVFormatContext*>& outputs, int64_t startTime,
                  int64_t recordingTime);

// Writes each output's header (and logs the session description when all
// are RTP); raises FFmpegException on the first that fails.
void WriteHeaders(const std::vector<AVFormatContext*>& outputs);
