// The option builder's view of a source, filled from the probe that has it
// open. Header only, so that the core library itself does not depend on the
// media libraries: include it where the probe is linked.
#pragma once

#include "core/OptionBuilder.h"
#include "probe/AVProbe.h"

// A stream the probe cannot describe keeps its values at -1.
inline TProbedSource ProbedSourceOf(TCustomAVProbe& probe) {
    TProbedSource src;
    src.AudioStreamIndex = probe.FirstAudioStreamIndex();
    src.VideoStreamIndex = probe.FirstVideoStreamIndex();
    src.VideoStreamCount = probe.VideoStreamCount();
    if (src.VideoStreamIndex >= 0) {
        TVideoStreamInfo video;
        probe.GetVideoStreamInfo(src.VideoStreamIndex, video);
        src.VideoWidth = video.Width;
        src.VideoHeight = video.Height;
        src.VideoDisplayWidth = video.DisplayWidth;
        src.VideoBitRate = video.BitRate;
    }
    if (src.AudioStreamIndex >= 0) {
        TAudioStreamInfo audio;
        probe.GetAudioStreamInfo(src.AudioStreamIndex, audio);
        src.AudioSampleRate = audio.SampleRate;
        src.AudioBitRate = audio.BitRate;
    }
    return src;
}
