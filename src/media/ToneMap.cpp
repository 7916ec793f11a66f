#include "media/ToneMap.h"

#include "media/AVFilterEntries.h"
#include "media/FFmpegHeaders.h"

#include <charconv>

namespace {

// Light that a picture's reference white has on an HDR display (BT.2408):
// linearised pictures count it as 1.0, so that SDR-range content keeps its
// brightness.
constexpr int kReferenceWhiteNits = 203;
// Peak of HDR content without better knowledge: the common mastering peak.
constexpr double kContentPeakNits = 1000.0;
// The curve is linear up to this share of the SDR range and rolls the
// highlights off above it.
constexpr char kToneMap[] = "tonemap=tonemap=mobius:param=0.7:desat=0";

// A number with "." as decimal point whatever the locale.
std::string DecimalText(double value) {
    char text[32];
    const auto result =
        std::to_chars(text, text + sizeof(text), value, std::chars_format::fixed, 3);
    return std::string(text, result.ptr);
}

bool HighDefinition(int height) {
    return height > 576;
}

// An HDR transfer is defined on BT.2020 pictures; any other picture without
// a tag is taken as BT.709 when high definition, BT.601 otherwise.
int KnownPrimaries(const TColourDescription& c) {
    if (c.Primaries != AVCOL_PRI_UNSPECIFIED && c.Primaries != AVCOL_PRI_RESERVED &&
        c.Primaries != AVCOL_PRI_RESERVED0)
        return c.Primaries;
    if (IsHdr(c)) return AVCOL_PRI_BT2020;
    return HighDefinition(c.Height) ? AVCOL_PRI_BT709 : AVCOL_PRI_SMPTE170M;
}

int KnownMatrix(const TColourDescription& c) {
    if (c.Matrix != AVCOL_SPC_UNSPECIFIED && c.Matrix != AVCOL_SPC_RESERVED) return c.Matrix;
    if (IsHdr(c)) return AVCOL_SPC_BT2020_NCL;
    return HighDefinition(c.Height) ? AVCOL_SPC_BT709 : AVCOL_SPC_SMPTE170M;
}

} // namespace

TColourDescription ColourOf(const AVFrame& frame) {
    return {frame.color_primaries, frame.color_trc, frame.colorspace, frame.color_range,
            frame.height};
}

TColourDescription ColourOf(const AVCodecParameters& parameters) {
    return {parameters.color_primaries, parameters.color_trc, parameters.color_space,
            parameters.color_range, parameters.height};
}

bool IsHdr(const TColourDescription& colour) {
    return colour.Transfer == AVCOL_TRC_SMPTE2084 || colour.Transfer == AVCOL_TRC_ARIB_STD_B67;
}

bool ToneMapAvailable() {
    return ff::avfilter.avfilter_get_by_name("zscale") &&
           ff::avfilter.avfilter_get_by_name("tonemap");
}

// Linearise (reference white 1.0) in float RGB, map the primaries to
// BT.709, tone-map the highlights, then BT.709 transfer, matrix and range.
std::string ToneMapFilterText(const TColourDescription& colour, const std::string& pixelFormat) {
    if (!IsHdr(colour)) return {};
    const char* range = colour.Range == AVCOL_RANGE_JPEG ? "pc" : "tv";
    const std::string peak = DecimalText(kContentPeakNits / kReferenceWhiteNits);
    return "zscale=tin=" + std::to_string(colour.Transfer) +
           ":pin=" + std::to_string(KnownPrimaries(colour)) +
           ":min=" + std::to_string(KnownMatrix(colour)) + ":rin=" + range +
           ":t=linear:npl=" + std::to_string(kReferenceWhiteNits) +
           ",format=gbrpf32le,zscale=p=bt709," + kToneMap + ":peak=" + peak +
           ",zscale=t=bt709:m=bt709:r=tv,format=" + pixelFormat;
}
