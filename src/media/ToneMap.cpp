#include "media/ToneMap.h"

#include "media/AVFilterEntries.h"
#include "media/FFmpegHeaders.h"

#include <charconv>

namespace {

// Light that a picture's reference white has on an HDR display (BT.2408):
// SDR white lands there, so that SDR-range content keeps its brightness.
constexpr double kReferenceWhiteNits = 203.0;
// Peak of HDR content without better knowledge: the common mastering peak.
// The linear pictures count it as 1.0 (16-bit values, full scale).
constexpr double kContentPeakNits = 1000.0;
// Mobius: linear up to 0.7 of the reference white, the highlights above
// rolled off so that the content's peak lands on SDR white.
constexpr double kKnee = 0.7;

// A number with "." as decimal point whatever the locale.
std::string DecimalText(double value, int digits = 3) {
    char text[40];
    const auto result =
        std::to_chars(text, text + sizeof(text), value, std::chars_format::fixed, digits);
    return std::string(text, result.ptr);
}

// The curve as an expression of the filter that applies it through a table
// of the 16-bit values: linear light (1.0 = content peak) to the BT.709
// transfer's value (1.0 = SDR white), for each of R, G and B.
std::string CurveExpression() {
    const double peak = kContentPeakNits / kReferenceWhiteNits, j = kKnee;
    const double a = -j * j * (peak - 1.0) / (j * j - 2.0 * j + peak);
    const double b = (j * j - 2.0 * j * peak + peak) / (peak - 1.0);
    const double c = (b * b + 2.0 * b * j + j * j) / (b - a);
    auto d = [](double v) { return DecimalText(v, 9); };
    // st(0): light in reference whites; st(1): tone-mapped light.
    return "st(0,val/maxval*" + d(peak) + ");st(1,if(lte(ld(0)," + d(j) + "),ld(0)," + d(c) +
           "*(ld(0)+" + d(a) + ")/(ld(0)+" + d(b) +
           ")));st(1,min(ld(1),1));maxval*if(lt(ld(1),0.018053969),4.5*ld(1),"
           "1.099296827*pow(ld(1),0.45)-0.099296827)";
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
    for (const char* name : {"zscale", "lutrgb", "setparams"})
        if (!ff::avfilter.avfilter_get_by_name(name)) return false;
    return true;
}

// Linearise into 16-bit RGB with BT.709 primaries in one step (the
// source's description given in full, so that a picture's missing tags
// cannot stop it), tone-map and re-encode with the BT.709 transfer through
// one table per channel, then the BT.709 matrix and range, tagged so.
// Tables and the scaler keep this a fraction of the cost of mapping in
// floating point.
std::string ToneMapFilterText(const TColourDescription& colour, const std::string& pixelFormat) {
    if (!IsHdr(colour)) return {};
    const char* range = colour.Range == AVCOL_RANGE_JPEG ? "pc" : "tv";
    const std::string curve = "'" + CurveExpression() + "'";
    return "zscale=tin=" + std::to_string(colour.Transfer) +
           ":pin=" + std::to_string(KnownPrimaries(colour)) +
           ":min=" + std::to_string(KnownMatrix(colour)) + ":rin=" + range +
           ":t=linear:npl=" + DecimalText(kContentPeakNits, 0) +
           ":p=bt709,format=gbrp16le,lutrgb=r=" + curve + ":g=" + curve + ":b=" + curve +
           ",scale=out_color_matrix=bt709:out_range=tv,format=" + pixelFormat +
           ",setparams=range=tv:color_primaries=bt709:color_trc=bt709:colorspace=bt709";
}
