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
// Mobius: linear up to 0.7 of the reference white, the highlights above
// rolled off towards the content's peak; colours keep their saturation.
constexpr char kToneMap[] = "tonemap=tonemap=mobius:param=0.7:desat=0";

// A number with "." as decimal point whatever the locale.
std::string DecimalText(double value) {
    char text[32];
    const auto result =
        std::to_chars(text, text + sizeof(text), value, std::chars_format::fixed, 3);
    return std::string(text, result.ptr);
}

bool Reserved(int primaries) {
    return primaries == AVCOL_PRI_RESERVED0 || primaries == AVCOL_PRI_RESERVED;
}

// The HDR transfers are defined on BT.2020 pictures (BT.2100): an HDR
// picture that names no primaries or matrix has BT.2020's. (A picture
// without any tag has no HDR transfer either, and passes as SDR.)
int KnownPrimaries(const TColourDescription& c) {
    return c.Primaries == AVCOL_PRI_UNSPECIFIED || Reserved(c.Primaries) ? AVCOL_PRI_BT2020
                                                                         : c.Primaries;
}

int KnownMatrix(const TColourDescription& c) {
    return c.Matrix == AVCOL_SPC_UNSPECIFIED || c.Matrix == AVCOL_SPC_RESERVED
               ? AVCOL_SPC_BT2020_NCL
               : c.Matrix;
}

} // namespace

TColourDescription ColourOf(const AVFrame& frame) {
    return {frame.color_primaries, frame.color_trc, frame.colorspace, frame.color_range};
}

TColourDescription ColourOf(const AVCodecParameters& parameters) {
    return {parameters.color_primaries, parameters.color_trc, parameters.color_space,
            parameters.color_range};
}

bool IsHdr(const TColourDescription& colour) {
    return colour.Transfer == AVCOL_TRC_SMPTE2084 || colour.Transfer == AVCOL_TRC_ARIB_STD_B67;
}

bool ToneMapAvailable() {
    return ff::avfilter.avfilter_get_by_name("zscale") &&
           ff::avfilter.avfilter_get_by_name("tonemap");
}

// Linearise (reference white 1.0) into float RGB with BT.709 primaries in
// one step (the source's description given in full, so that a picture's
// missing tags cannot stop it), tone-map the highlights, then BT.709
// transfer, matrix and range.
std::string ToneMapFilterText(const TColourDescription& colour, const std::string& pixelFormat) {
    if (!IsHdr(colour)) return {};
    const char* range = colour.Range == AVCOL_RANGE_JPEG ? "pc" : "tv";
    const std::string peak = DecimalText(kContentPeakNits / kReferenceWhiteNits);
    return "zscale=tin=" + std::to_string(colour.Transfer) +
           ":pin=" + std::to_string(KnownPrimaries(colour)) +
           ":min=" + std::to_string(KnownMatrix(colour)) + ":rin=" + range +
           ":t=linear:npl=" + std::to_string(kReferenceWhiteNits) + ":p=bt709,format=gbrpf32le," +
           kToneMap + ":peak=" + peak + ",zscale=t=bt709:m=bt709:r=tv,format=" + pixelFormat;
}
