// The option builder's view of a source, filled from the probe that has it
// open. Header only, so that the core library itself does not depend on the
// media libraries: include it where the probe is linked.
#pragma once

#include "core/OptionBuilder.h"
#include "probe/AVProbe.h"
#include "probe/PacketScan.h"

#include <vector>

namespace probed_source_detail {

// The first stream of `type` that is not known to be empty, -1 when none;
// `empty` tells whether an empty one was passed over or left out.
inline int FirstWithPackets(const AVFormatContext* context, const std::vector<TPackets>& seen,
                            AVMediaType type, int& count, bool& empty) {
    int first = -1;
    count = 0;
    empty = false;
    for (unsigned i = 0; i < context->nb_streams && i < seen.size(); ++i) {
        if (context->streams[i]->codecpar->codec_type != type) continue;
        if (seen[i] == TPackets::None) {
            empty = true;
            continue;
        }
        ++count;
        if (first < 0) first = static_cast<int>(i);
    }
    return first;
}

} // namespace probed_source_detail

// A stream the probe cannot describe keeps its values at -1. Reads the
// probe's file to find the empty streams, so the probe is at some later
// point of it afterwards.
inline TProbedSource ProbedSourceOf(TCustomAVProbe& probe) {
    TProbedSource src;
    src.AudioStreamIndex = probe.FirstAudioStreamIndex();
    src.VideoStreamIndex = probe.FirstVideoStreamIndex();
    src.VideoStreamCount = probe.VideoStreamCount();
    src.StreamCount = probe.StreamCount();
    TFileStreamInfo file;
    if (probe.GetFileStreamInfo(file)) src.DurationUS = file.Duration;
    if (AVFormatContext* context = probe.FormatContext()) {
        using probed_source_detail::FirstWithPackets;
        const std::vector<TPackets> seen = ScanPackets(context);
        int audioCount = 0;
        src.VideoStreamIndex = FirstWithPackets(context, seen, AVMEDIA_TYPE_VIDEO,
                                                src.VideoStreamCount, src.EmptyVideoStreams);
        src.AudioStreamIndex =
            FirstWithPackets(context, seen, AVMEDIA_TYPE_AUDIO, audioCount, src.EmptyAudioStreams);
    }
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
