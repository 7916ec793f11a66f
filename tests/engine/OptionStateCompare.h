// Two tasks' option states compared part by part: every field an option
// can set, the options waiting for an encoder or muxer, and the numbers the
// option contexts were given.
#pragma once

#include "engine/FFmpeg.h"
#include "media/FFmpegLoader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// A number of an option context ("" when it has no such option).
inline std::string ContextNumber(void* context, const char* name) {
    int64_t value = 0;
    if (!context || ff::avutil.av_opt_get_int(context, name, 0, &value) < 0) return "";
    return std::to_string(value);
}

inline std::vector<std::string> PendingTexts(const TOptionState& s) {
    std::vector<std::string> texts;
    for (const TPendingOption& p : s.PendingOptions)
        texts.push_back(p.Name + "=" + p.Value + "@" + std::to_string(static_cast<int>(p.Kind)) +
                        ":" + p.Refusal);
    return texts;
}

// Every part of the option state that an option can set, and the numbers
// the record hands to the option contexts.
inline void ExpectSameState(TFFmpeg& a, TFFmpeg& b) {
    const TOptionState& x = a.OptionState();
    const TOptionState& y = b.OptionState();
#define SAME(field) EXPECT_EQ(x.field, y.field) << #field
    SAME(FormatName);
    SAME(FrameWidth);
    SAME(FrameHeight);
    SAME(FrameSizeOfTarget);
    SAME(FrameAspectRatio);
    SAME(FramePixFmt);
    SAME(FrameTopBand);
    SAME(FrameBottomBand);
    SAME(FrameLeftBand);
    SAME(FrameRightBand);
    SAME(MaxFrames);
    SAME(FrameRateNum);
    SAME(FrameRateDen);
    SAME(VideoQScale);
    SAME(VideoDisable);
    SAME(HasVideoCodecName);
    SAME(VideoCodecName);
    SAME(VideoCodecTag);
    SAME(VideoLanguage);
    SAME(VFilters);
    SAME(AudioSampleRate);
    SAME(AudioDisable);
    SAME(AudioChannels);
    SAME(HasAudioCodecName);
    SAME(AudioCodecName);
    SAME(AudioCodecTag);
    SAME(AudioLanguage);
    SAME(SubtitleDisable);
    SAME(HasSubtitleCodecName);
    SAME(SubtitleCodecName);
    SAME(SubtitleLanguage);
    SAME(MuxPreload);
    SAME(MuxMaxDelay);
    SAME(RecordingTime);
    SAME(StartTime);
    SAME(RecordingTimestamp);
    SAME(InputTsOffset);
    SAME(Metadata);
    SAME(AudioStreamCopy);
    SAME(VideoStreamCopy);
    SAME(SubtitleStreamCopy);
    SAME(VideoSyncMethod);
    SAME(AudioSyncMethod);
    SAME(CopyTs);
    SAME(OptShortest);
    SAME(OptProgramID);
    SAME(AudioVolume);
    SAME(InputSync);
    SAME(HookModules.size());
    SAME(PrivateOptions);
    SAME(FormatPrivateOptions);
    SAME(SharedOptionKinds);
#undef SAME
    EXPECT_EQ(PendingTexts(x), PendingTexts(y));
    EXPECT_EQ(a.TotalDuration(), b.TotalDuration());
    TOptionContexts& cx = a.OptionContexts();
    TOptionContexts& cy = b.OptionContexts();
    for (int kind : {AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO})
        for (const char* name : {"b", "g", "maxrate", "minrate", "bt", "bufsize", "qmin", "qmax"})
            EXPECT_EQ(ContextNumber(cx.CodecOptions[kind], name),
                      ContextNumber(cy.CodecOptions[kind], name))
                << kind << " " << name;
    EXPECT_EQ(ContextNumber(cx.FormatOptions, "packetsize"),
              ContextNumber(cy.FormatOptions, "packetsize"));
}
