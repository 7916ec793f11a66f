#include "RowEdits.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace {

constexpr int32_t kLayerAlpha = 125;
constexpr int32_t kFontSize = 26;
constexpr uint32_t kBlue = 0xFF0000u;
constexpr uint32_t kGreen = 0x008000u;
constexpr int64_t kSecond = 1000000;

[[noreturn]] void Bad(const std::string& name, const std::string& value) {
    throw std::invalid_argument("Invalid value for " + name + ": " + value);
}

bool ToInt(const std::string& text, int64_t& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtoll(text.c_str(), &end, 10);
    return errno == 0 && *end == '\0';
}

// Comma-separated integers, `counts` telling how many are allowed.
std::vector<int64_t> Numbers(const std::string& name, const std::string& text,
                             std::initializer_list<size_t> counts) {
    std::vector<int64_t> values;
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        int64_t v = 0;
        if (!ToInt(text.substr(start, comma - start), v)) Bad(name, text);
        values.push_back(v);
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    for (size_t n : counts)
        if (values.size() == n) return values;
    Bad(name, text);
}

int32_t InRange(const std::string& name, const std::string& text, int64_t lo, int64_t hi) {
    const int64_t v = Numbers(name, text, {1})[0];
    if (v < lo || v > hi) Bad(name, text);
    return static_cast<int32_t>(v);
}

void SetCrop(const std::string& value, TlvFilesRecord& row) {
    const std::vector<int64_t> v = Numbers("--crop", value, {4});
    for (int64_t c : v)
        if (c < 0 || c > INT32_MAX) Bad("--crop", value);
    // The crop dialog keeps even values, odd ones dropping to the even below.
    row.CropTop = static_cast<int32_t>(v[0] / 2 * 2);
    row.CropLeft = static_cast<int32_t>(v[1] / 2 * 2);
    row.CropBottom = static_cast<int32_t>(v[2] / 2 * 2);
    row.CropRight = static_cast<int32_t>(v[3] / 2 * 2);
}

void SetTrim(const std::string& value, TlvFilesRecord& row) {
    const std::vector<int64_t> v = Numbers("--trim", value, {2});
    if (v[0] < 0 || v[1] < 0 || v[0] > INT32_MAX || v[1] > INT32_MAX) Bad("--trim", value);
    row.TrimStart = v[0] * kSecond;
    row.TrimLength = v[1] * kSecond;
}

// "WHAT@X,Y[,ALPHA[,START,END]]" split at the last "@"; fills the place,
// opacity and time range.
std::string LayerPlace(const std::string& name, const std::string& value, int32_t& x, int32_t& y,
                       int32_t& alpha, TWmRec& layer) {
    const size_t at = value.rfind('@');
    if (at == std::string::npos || at == 0) Bad(name, value);
    const std::vector<int64_t> v = Numbers(name, value.substr(at + 1), {2, 3, 5});
    for (int64_t n : v)
        if (n < INT32_MIN || n > INT32_MAX) Bad(name, value);
    x = static_cast<int32_t>(v[0]);
    y = static_cast<int32_t>(v[1]);
    if (v.size() >= 3) {
        if (v[2] < 0 || v[2] > 255) Bad(name, value);
        alpha = static_cast<int32_t>(v[2]);
    }
    if (v.size() == 5) {
        if (v[3] < 0 || v[3] > v[4]) Bad(name, value);
        layer.StartTime = static_cast<int32_t>(v[3]);
        layer.EndTime = static_cast<int32_t>(v[4]);
    }
    return value.substr(0, at);
}

// The pixel size from a ".bmp" file's header; 0 x 0 when it is not one.
void BmpSize(const std::string& file, int32_t& width, int32_t& height) {
    std::ifstream in(file, std::ios::binary);
    unsigned char h[26] = {};
    if (!in.read(reinterpret_cast<char*>(h), sizeof h) || h[0] != 'B' || h[1] != 'M') return;
    const auto le = [&](int at) {
        return static_cast<int32_t>(uint32_t{h[at]} | uint32_t{h[at + 1]} << 8 |
                                    uint32_t{h[at + 2]} << 16 | uint32_t{h[at + 3]} << 24);
    };
    width = le(18);
    height = le(22) < 0 ? -le(22) : le(22);
}

void AddText(const std::string& value, TlvFilesRecord& row, const TTextMeasure& measure) {
    TWmRec layer = NewTextLayer(row, "");
    layer.Text = LayerPlace("--text", value, layer.TextLeft, layer.TextTop, layer.TextAlpha, layer);
    if (measure) measure(layer.Text, *layer.Font, layer.TextWidth, layer.TextHeight);
    row.Watermarks.push_back(std::move(layer));
}

void AddImage(const std::string& value, TlvFilesRecord& row) {
    TWmRec layer = NewImageLayer(row, "");
    layer.ImageFile =
        LayerPlace("--image", value, layer.ImageLeft, layer.ImageTop, layer.ImageAlpha, layer);
    // A picture that cannot be read fails the edits once, not every frame.
    errno = 0;
    if (!std::ifstream(layer.ImageFile, std::ios::binary))
        throw std::invalid_argument("--image: " + layer.ImageFile + ": " +
                                    std::strerror(errno ? errno : ENOENT));
    BmpSize(layer.ImageFile, layer.ImageWidth, layer.ImageHeight);
    row.Watermarks.push_back(std::move(layer));
}

void ApplyOne(const std::string& name, const std::string& value, TlvFilesRecord& row,
              const TTextMeasure& measure) {
    if (name == "--brightness")
        row.Brightness = InRange(name, value, 0, 512);
    else if (name == "--contrast")
        row.Contrast = InRange(name, value, -100, 100);
    else if (name == "--saturation")
        row.Saturation = InRange(name, value, 0, 512);
    else if (name == "--exposure")
        row.Exposure = InRange(name, value, -255, 512);
    else if (name == "--crop")
        SetCrop(value, row);
    else if (name == "--trim")
        SetTrim(value, row);
    else if (name == "--text")
        AddText(value, row, measure);
    else if (name == "--image")
        AddImage(value, row);
    else
        throw std::invalid_argument("Unknown edit: " + name);
}

// A layer of the kind shown from the row's start to its end.
TWmRec WholeRowLayer(const TlvFilesRecord& row, int32_t kind) {
    TWmRec layer;
    layer.Kind = kind;
    layer.StartTime = 0;
    layer.EndTime = row.Duration;
    return layer;
}

} // namespace

TWmRec NewTextLayer(const TlvFilesRecord& row, const std::string& text) {
    TWmRec layer = WholeRowLayer(row, kWmTextLayer);
    layer.Text = text;
    layer.Font = TWmFont{"", kFontSize, 0, kBlue};
    layer.TextAlpha = kLayerAlpha;
    layer.BackColor = kGreen;
    layer.UseBackColor = false;
    return layer;
}

TWmRec NewImageLayer(const TlvFilesRecord& row, const std::string& file) {
    TWmRec layer = WholeRowLayer(row, kWmImageLayer);
    layer.ImageFile = file;
    layer.ImageAlpha = kLayerAlpha;
    return layer;
}

void ApplyRowEdits(const std::vector<std::string>& args, TlvFilesRecord& row,
                   const TTextMeasure& measure) {
    for (size_t i = 0; i < args.size(); i += 2) {
        if (i + 1 >= args.size()) throw std::invalid_argument("Missing value for " + args[i]);
        ApplyOne(args[i], args[i + 1], row, measure);
    }
}
