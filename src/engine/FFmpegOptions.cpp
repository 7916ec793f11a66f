// The media kinds of the option state.
#include "engine/FFmpegOptions.h"

#include "media/FFmpegHeaders.h"

TMediaKind MediaKindOf(int mediaType) {
    return mediaType == AVMEDIA_TYPE_VIDEO   ? TMediaKind::Video
           : mediaType == AVMEDIA_TYPE_AUDIO ? TMediaKind::Audio
                                             : TMediaKind::Subtitle;
}

TMediaKind MediaKindOfOption(const std::string& name) {
    if (!name.empty() && name[0] == 'v') return TMediaKind::Video;
    if (!name.empty() && name[0] == 'a') return TMediaKind::Audio;
    return TMediaKind::Subtitle;
}

std::string ChosenCodecName(const TOptionState& state, TMediaKind kind) {
    switch (kind) {
    case TMediaKind::Video:
        return state.HasVideoCodecName ? state.VideoCodecName : std::string();
    case TMediaKind::Audio:
        return state.HasAudioCodecName ? state.AudioCodecName : std::string();
    case TMediaKind::Subtitle:
        return state.HasSubtitleCodecName ? state.SubtitleCodecName : std::string();
    case TMediaKind::Any:
        break;
    }
    return std::string();
}

std::vector<TPendingOption> TakeAnyKindPendingOptions(TOptionState& state) {
    std::vector<TPendingOption> taken;
    auto& waiting = state.PendingOptions;
    for (auto it = waiting.begin(); it != waiting.end();) {
        if (it->Kind != TMediaKind::Any) {
            ++it;
            continue;
        }
        taken.push_back(std::move(*it));
        it = waiting.erase(it);
    }
    return taken;
}
