#include "core/FormatCatalogue.h"

#include <string_view>

namespace {

constexpr std::array<std::string_view, kFormatCategoryCount> kCategories = {
    "Zune Video", "General Video formates", "General Audio formates", "Modern formats"};

constexpr std::array<std::string_view, 3> kZuneVideo = {
    "ZUNE - MPEG-4 Video (*.mp4)",
    "ZUNE - MPEG-4 AVC Video (*.mp4)",
    "ZUNE - Windows Media Video (*.wmv)",
};

constexpr std::array<std::string_view, 10> kGeneralVideo = {
    "MPEG-1 Video (*.mpg)",
    "MPEG-2 Video (*.mpg)",
    "MPEG-4 Video (*.mp4)",
    "H.264/MPEG-4 AVC Video (*.mp4)",
    "AVI Video (*.avi)",
    "WMV Video (*.wmv)",
    "Divx Video (*.avi)",
    "Xvid Video (*.avi)",
    "DV - NTSC -Digital Video Format (*.dv)",
    "DV - PAL -Digital Video Format (*.dv)",
};

constexpr std::array<std::string_view, 7> kGeneralAudio = {
    "MP3 MPEG Layer-3 Audio (*.mp3)", "AAC Advenced Audio Codec (*.aac)",
    "M4A MPEG-4 Audio (*.m4a)",       "WMA - Windows Meida Audio (*.wma)",
    "WAV - Waveform Audio (*.wav)",   "OGG Vorbis Audio Codec (*.ogg)",
    "AC-3 Audio Codec (*.ac3)",
};

constexpr std::array<std::string_view, 7> kModern = {
    "H.265/HEVC Video (*.mp4)",          "AV1 Video (*.mp4)",
    "WebM VP9 Video (*.webm)",           "Matroska - keep streams, no re-encoding (*.mkv)",
    "FLAC Lossless Audio (*.flac)",      "Opus Audio (*.opus)",
    "ALAC Apple Lossless Audio (*.m4a)",
};

// The formats of one category, in order.
std::vector<std::string_view> FormatsOf(int category) {
    switch (category) {
    case 0:
        return {kZuneVideo.begin(), kZuneVideo.end()};
    case 1:
        return {kGeneralVideo.begin(), kGeneralVideo.end()};
    case 2:
        return {kGeneralAudio.begin(), kGeneralAudio.end()};
    case kModernCategory:
        return {kModern.begin(), kModern.end()};
    default:
        return {};
    }
}

} // namespace

void FillFormatCaptions(TFormatCaptions& captions) {
    for (auto& row : captions)
        row.fill(std::string());
    for (int category = 0; category < kFormatCategoryCount; ++category) {
        const auto formats = FormatsOf(category);
        for (std::size_t i = 0; i < formats.size(); ++i)
            captions[static_cast<std::size_t>(category)][i] = std::string(formats[i]);
    }
}

std::string CategoryCaption(int category) {
    if (category < 0 || category >= kFormatCategoryCount) return {};
    return std::string(kCategories[static_cast<std::size_t>(category)]);
}

std::string FormatCaptionOf(int code) {
    if (code < 0) return {};
    const auto formats = FormatsOf(code / 100);
    const auto position = static_cast<std::size_t>(code % 100);
    return position < formats.size() ? std::string(formats[position]) : std::string();
}

std::vector<int> FormatCodes() {
    std::vector<int> codes;
    for (int category = 0; category < kFormatCategoryCount; ++category) {
        const auto count = static_cast<int>(FormatsOf(category).size());
        for (int position = 0; position < count; ++position)
            codes.push_back(category * 100 + position);
    }
    return codes;
}

std::string FormatSectionName(int code) {
    return "formatInfo" + std::to_string(code);
}

bool IsModernFormat(int code) {
    return code / 100 == kModernCategory && !FormatCaptionOf(code).empty();
}
