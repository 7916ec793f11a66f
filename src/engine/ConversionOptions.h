// The options a conversion reads while it runs, taken from the task's option
// state once when the conversion starts and never changed after: the
// transcoder's stages read this view, not the option state the option table
// writes. Plain values, so a stage on any thread may read it.
#pragma once

#include "engine/FFmpegOptions.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

struct TOptionContexts;

struct TConversionOptions {
    // Which streams go where, and which file's tags go to which output.
    std::vector<TStreamMap> StreamMaps;
    std::vector<TMetaDataMap> MetaDataMaps;

    // Reading the inputs: the part converted (microseconds; RecordingTime
    // INT64_MAX is no limit), the pace and the timing rules.
    int64_t StartTime = 0;
    int64_t RecordingTime = 0;
    bool RateEmu = false;
    bool CopyTs = false;
    bool InputSync = false;
    float DtsDeltaThreshold = 0.0f;
    int CopyInitialNonkeyframes = 0;
    bool DoPktDump = false, DoHexDump = false;

    // Where the conversion stops early.
    std::array<int, 4> MaxFrames{};
    int64_t LimitFileSize = 0;
    bool OptShortest = false;

    // Pictures: bands cut off, scaling, filters, pre-processing, timing.
    int FrameTopBand = 0, FrameBottomBand = 0, FrameLeftBand = 0, FrameRightBand = 0;
    int SwsFlags = 0; // the scaler options' flags when they were set, else the option's
    std::string VFilters;
    bool FrameSizeOfTarget = false;
    bool KeepHdr = false;
    bool DoDeinterlace = false;
    bool UsingVhook = false; // frame-hook modules were loaded for the task
    int TopFieldFirst = -1;
    bool SameQuality = false;
    int MeThreshold = 0;
    int VideoSyncMethod = -1;

    // Sound: volume, filters and how it keeps in time with the pictures.
    int AudioVolume = 256;
    std::string AudioFilters;
    int AudioSyncMethod = 0;
    float AudioDriftThreshold = 0.0f;

    // Codecs, statistics and reports.
    int ThreadCount = 0;
    std::string PassLogFileName;
    bool HasVStatsFileName = false;
    std::string VStatsFileName;
    bool QpHist = false;
    bool ExitOnError = false;
    int Verbose = 0;
};

// The view of `state`; the scaler flags come from `contexts`' scaler
// options when there are any (the media libraries must then be loaded).
TConversionOptions ConversionOptionsOf(const TOptionState& state, const TOptionContexts& contexts);
