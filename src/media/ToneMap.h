// HDR pictures (PQ or HLG transfer) become SDR BT.709 wherever they are
// shown or written: the converter's filter graph and the player's build the
// same chain of filters from the picture's colour description.
#pragma once

#include <string>

struct AVCodecParameters;
struct AVFrame;

// A picture's colour description in the media libraries' enumerations
// (AVColorPrimaries, AVColorTransferCharacteristic, AVColorSpace,
// AVColorRange); "unspecified" where the source says nothing.
struct TColourDescription {
    int Primaries = 2;
    int Transfer = 2;
    int Matrix = 2;
    int Range = 0;
};

TColourDescription ColourOf(const AVFrame& frame);
TColourDescription ColourOf(const AVCodecParameters& parameters);

// Whether the transfer is one of the two HDR ones (PQ, HLG).
bool IsHdr(const TColourDescription& colour);

// Whether the loaded filter library has the filters of the chain (zscale
// needs the zimg library, which a build of the libraries may lack).
bool ToneMapAvailable();

// The filter chain that turns such a picture into SDR BT.709 (limited
// range) in the given pixel format, for a filter graph's text; empty for an
// SDR picture, which passes untouched.
std::string ToneMapFilterText(const TColourDescription& colour, const std::string& pixelFormat);
