#include "engine/ConversionOptions.h"

#include "media/FFUtils.h"
#include "media/FFmpegLoader.h"

namespace {

// The flags the scaler options hold: a "sws_flags" option given as text
// lands there, the option table's own row in the state.
int ScalerFlags(const TOptionState& state, const TOptionContexts& contexts) {
    int64_t flags = 0;
    if (contexts.ScalerOptions &&
        ff::avutil.av_opt_get_int(contexts.ScalerOptions, "sws_flags", 0, &flags) >= 0)
        return static_cast<int>(flags);
    return state.SwsFlags;
}

} // namespace

TConversionOptions ConversionOptionsOf(const TOptionState& state, const TOptionContexts& contexts) {
    TConversionOptions view;
    view.StreamMaps = state.StreamMaps;
    view.MetaDataMaps = state.MetaDataMaps;

    view.StartTime = state.StartTime;
    view.RecordingTime = state.RecordingTime;
    view.RateEmu = state.RateEmu;
    view.CopyTs = state.CopyTs;
    view.InputSync = state.InputSync;
    view.DtsDeltaThreshold = state.DtsDeltaThreshold;
    view.CopyInitialNonkeyframes = state.CopyInitialNonkeyframes;
    view.DoPktDump = state.DoPktDump;
    view.DoHexDump = state.DoHexDump;

    view.MaxFrames = state.MaxFrames;
    view.LimitFileSize = state.LimitFileSize;
    view.OptShortest = state.OptShortest;

    view.FrameTopBand = state.FrameTopBand;
    view.FrameBottomBand = state.FrameBottomBand;
    view.FrameLeftBand = state.FrameLeftBand;
    view.FrameRightBand = state.FrameRightBand;
    view.SwsFlags = ScalerFlags(state, contexts);
    view.VFilters = state.VFilters;
    view.FrameSizeOfTarget = state.FrameSizeOfTarget;
    view.KeepHdr = state.KeepHdr;
    view.DoDeinterlace = state.DoDeinterlace;
    view.UsingVhook = state.UsingVhook;
    view.TopFieldFirst = state.TopFieldFirst;
    view.SameQuality = state.SameQuality;
    view.MeThreshold = state.MeThreshold;
    view.VideoSyncMethod = state.VideoSyncMethod;

    view.AudioVolume = state.AudioVolume;
    view.AudioFilters = state.AudioFilters;
    view.AudioSyncMethod = state.AudioSyncMethod;
    view.AudioDriftThreshold = state.AudioDriftThreshold;

    view.ThreadCount = state.ThreadCount;
    view.PassLogFileName = state.PassLogFileName;
    view.HasVStatsFileName = state.HasVStatsFileName;
    view.VStatsFileName = state.VStatsFileName;
    view.QpHist = state.QpHist;
    view.ExitOnError = state.ExitOnError;
    view.Verbose = state.Verbose;
    return view;
}
