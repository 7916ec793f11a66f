// The target profiles and the norm of a target.
#include "engine/TargetProfiles.h"

#include "engine/FFmpegOptions.h"

#include "media/FFmpegLogger.h"
#include "media/MyUtils.h"

#include <array>
#include <vector>

namespace {

enum TNorm { nmPal, nmNtsc, nmFilm };

const char* NormFrameRate(int norm) {
    return norm == nmPal ? "25" : (norm == nmNtsc ? "30000/1001" : "24000/1001");
}

// The norm that a frame rate of round(rate x 1000) stands for, or -1.
int NormOfRate(int64_t rate1000) {
    if (rate1000 == 25000) return nmPal;
    if (rate1000 == 29970 || rate1000 == 23976) return nmNtsc;
    return -1;
}

// What a "target" sets. Two values per norm-dependent setting: PAL first,
// then NTSC (and film).
struct TTargetOption {
    const char* Name;
    std::array<const char*, 2> Value;
};

enum TTargetChannels {
    tcStereo,       // two channels
    tcMonoToStereo, // one channel becomes two, more stay
};

struct TTargetProfile {
    const char* Type;
    const char* Format;
    const char* VideoCodec; // nullptr: the codec names stay
    const char* AudioCodec;
    std::array<const char*, 2> FrameSize;
    std::array<const char*, 2> PixFmt;                             // nullptr: unchanged
    std::vector<TTargetOption> Options;                            // the option contexts', in order
    std::vector<std::pair<const char*, const char*>> VideoPrivate; // of the video encoder
    int SampleRate;
    TTargetChannels Channels;
    float MuxPreload;          // seconds; 0: unchanged
    const char* DefaultAspect; // when none was given; nullptr: none
};

const std::vector<TTargetProfile>& TargetProfiles() {
    static const std::vector<TTargetProfile> profiles = {
        {"vcd",
         "vcd",
         "mpeg1video",
         "mp2",
         {"352x288", "352x240"},
         {nullptr, nullptr},
         {{"g", {"15", "18"}},
          {"b", {"1150000", "1150000"}},
          {"maxrate", {"1150000", "1150000"}},
          {"minrate", {"1150000", "1150000"}},
          {"bufsize", {"327680", "327680"}},
          {"ab", {"224000", "224000"}},
          {"packetsize", {"2324", "2324"}},
          {"muxrate", {"1411200", "1411200"}}},
         {},
         44100,
         tcStereo,
         0.44f,
         "4:3"},
        // The scan-offset flag is a private option of the MPEG-2 encoder now.
        {"svcd",
         "svcd",
         "mpeg2video",
         "mp2",
         {"480x576", "480x480"},
         {nullptr, nullptr},
         {{"g", {"15", "18"}},
          {"b", {"2040000", "2040000"}},
          {"maxrate", {"2516000", "2516000"}},
          {"minrate", {"0", "0"}},
          {"bufsize", {"1835008", "1835008"}},
          {"ab", {"224000", "224000"}},
          {"packetsize", {"2324", "2324"}}},
         {{"scan_offset", "1"}},
         44100,
         tcMonoToStereo,
         0.0f,
         "4:3"},
        {"dvd",
         "dvd",
         "mpeg2video",
         "ac3",
         {"720x576", "720x480"},
         {nullptr, nullptr},
         {{"g", {"15", "18"}},
          {"b", {"6000000", "6000000"}},
          {"maxrate", {"9000000", "9000000"}},
          {"minrate", {"0", "0"}},
          {"bufsize", {"1835008", "1835008"}},
          {"packetsize", {"2048", "2048"}},
          {"muxrate", {"10080000", "10080000"}},
          {"ab", {"448000", "448000"}}},
         {},
         48000,
         tcMonoToStereo,
         0.0f,
         "16:9"},
        {"dv",
         "dv",
         nullptr,
         nullptr,
         {"720x576", "720x480"},
         {"yuv420p", "yuv411p"},
         {},
         {},
         48000,
         tcStereo,
         0.0f,
         nullptr},
        {"dv50",
         "dv",
         nullptr,
         nullptr,
         {"720x576", "720x480"},
         {"yuv422p", "yuv422p"},
         {},
         {},
         48000,
         tcStereo,
         0.0f,
         nullptr},
    };
    return profiles;
}

const TTargetProfile* FindTargetProfile(const std::string& type) {
    for (const TTargetProfile& profile : TargetProfiles())
        if (type == profile.Type) return &profile;
    return nullptr;
}

int NormOfRate(AVRational rate) {
    return NormOfRate(RoundHalfEvenInt(rate.num * 1000.0 / rate.den));
}

// The frame rate given first, then the first input rate that has a norm,
// then the fallback.
int GuessNorm(const TNormClues& clues) {
    if (clues.FrameRate.den == 0) throw FFmpegException("frame_rate is invalid.");
    int norm = NormOfRate(clues.FrameRate);
    if (norm < 0 && clues.InputVideoRates)
        for (const AVRational& rate : clues.InputVideoRates())
            if (rate.den > 0 && (norm = NormOfRate(rate)) >= 0) break;
    if (norm < 0)
        norm = clues.Fallback == "film" ? nmFilm : (clues.Fallback == "ntsc" ? nmNtsc : nmPal);
    if (clues.Verbose)
        GetLogger().Log(nullptr, llVerbose,
                        FormatText("Assuming %s for target.", norm == nmPal ? "PAL" : "NTSC"));
    return norm;
}

int ReadNorm(const std::string& norm, const TNormClues& clues) {
    if (norm == "pal") return nmPal;
    if (norm == "ntsc") return nmNtsc;
    if (norm == "film") return nmFilm;
    return GuessNorm(clues);
}

std::string TextOrEmpty(const char* text) {
    return text ? text : std::string();
}

} // namespace

TTargetSettings TargetSettings(const std::string& type, const std::string& norm,
                               const TNormClues& clues) {
    const int n = ReadNorm(norm, clues); // its error comes first
    const TTargetProfile* profile = FindTargetProfile(type);
    if (!profile) throw FFmpegException("Unknown target type");
    const std::size_t side = n == nmPal ? 0 : 1;
    TTargetSettings settings;
    settings.VideoCodec = TextOrEmpty(profile->VideoCodec);
    settings.AudioCodec = TextOrEmpty(profile->AudioCodec);
    settings.Format = profile->Format;
    settings.FrameSize = profile->FrameSize[side];
    settings.PixFmt = TextOrEmpty(profile->PixFmt[side]);
    settings.FrameRate = NormFrameRate(n);
    for (const TTargetOption& option : profile->Options)
        settings.Options.emplace_back(option.Name, option.Value[side]);
    for (const auto& [name, value] : profile->VideoPrivate)
        settings.VideoPrivate.emplace_back(name, value);
    settings.SampleRate = profile->SampleRate;
    settings.MonoOnlyToStereo = profile->Channels == tcMonoToStereo;
    settings.MuxPreload = profile->MuxPreload;
    settings.DefaultAspect = TextOrEmpty(profile->DefaultAspect);
    return settings;
}
