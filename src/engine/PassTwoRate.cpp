#include "engine/PassTwoRate.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <string_view>

namespace {

// The number after "name:" in one picture's entry (a name that starts the
// entry or follows white space); false without one.
bool FieldValue(std::string_view entry, std::string_view name, int64_t& value) {
    const std::string key = std::string(name) + ":";
    for (std::size_t at = entry.find(key); at != std::string_view::npos;
         at = entry.find(key, at + 1)) {
        if (at > 0 && !std::isspace(static_cast<unsigned char>(entry[at - 1]))) continue;
        const std::string digits(entry.substr(at + key.size(), 20));
        char* end = nullptr;
        value = std::strtoll(digits.c_str(), &end, 10);
        return end != digits.c_str();
    }
    return false;
}

} // namespace

namespace {

// The libraries' quality of one quantiser step.
constexpr double kLambdaPerQuantiser = 118;
// The estimate falls short of the encoder's limit by up to a third on the
// sources tried (its curve fitting keeps more than the coarsest steps).
constexpr double kMargin = 1.4;

// The coarsest quantiser a picture of the type (1 I, 2 P, 3 B) can get:
// P pictures stay below what keeps their B pictures within the limit, and I
// pictures follow the P pictures.
double CoarsestQuantiser(int type, const TPassTwoPicture& picture) {
    const double qmax = picture.QMax > 0 ? picture.QMax : 31;
    double p = qmax;
    if (picture.BFrames > 0 && picture.BQuantFactor > 0)
        p = std::clamp((qmax - picture.BQuantOffset) / picture.BQuantFactor, 1.0, qmax);
    if (type == 3) return qmax;
    if (type == 1)
        return std::clamp(p * std::fabs(picture.IQuantFactor) + picture.IQuantOffset, 1.0, qmax);
    return p;
}

} // namespace

int64_t LowestPassTwoBitRate(const std::string& stats, const TPassTwoPicture& picture) {
    if (picture.FrameRate <= 0) return -1;
    int64_t entries = 0;
    double leastBits = 0;
    std::size_t begin = 0;
    for (std::size_t end; (end = stats.find(';', begin)) != std::string::npos; begin = end + 1) {
        const std::string_view entry(stats.data() + begin, end - begin);
        int64_t in = 0, type = 0, q = 0, itex = 0, ptex = 0, mv = 0, misc = 0;
        if (!FieldValue(entry, "in", in) || !FieldValue(entry, "type", type) ||
            !FieldValue(entry, "q", q) || !FieldValue(entry, "itex", itex) ||
            !FieldValue(entry, "ptex", ptex) || !FieldValue(entry, "mv", mv) ||
            !FieldValue(entry, "misc", misc))
            return -1;
        const double quantiser = static_cast<double>(q) / kLambdaPerQuantiser;
        leastBits += static_cast<double>(mv + misc) + static_cast<double>(itex + ptex) * quantiser /
                                                          CoarsestQuantiser(int(type), picture);
        ++entries;
    }
    if (entries == 0) return -1;
    // The encoder counts room for the pictures its B-frames may hold back.
    entries += picture.BFrames;
    return static_cast<int64_t>(
        std::ceil(leastBits * picture.FrameRate / static_cast<double>(entries) * kMargin));
}

bool KeepsMpegFamilyStatistics(const std::string& encoderName) {
    static const std::array<const char*, 13> names = {
        "mpeg1video", "mpeg2video", "mpeg4", "msmpeg4v2", "msmpeg4", "wmv1", "wmv2",
        "h261",       "h263",       "h263p", "flv",       "rv10",    "rv20"};
    for (const char* name : names)
        if (encoderName == name) return true;
    return false;
}
