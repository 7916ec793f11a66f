// The colour matrix the scaler converts with between a YUV picture and RGB.
// The scaler's own default is BT.601 for every picture; pictures say which
// matrix they were coded with, and the ones that do not are BT.709 when
// they are HD, BT.601 in standard definition.
#pragma once

struct AVFrame;
struct SwsContext;

// What of a picture decides the matrix: its AVColorSpace, AVColorRange,
// AVPixelFormat and size.
struct TPictureMatrix {
    int ColourSpace = 2; // unspecified
    int Range = 0;       // unspecified
    int Format = -1;
    int Width = 0;
    int Height = 0;
};

TPictureMatrix MatrixOf(const AVFrame& picture);

// The scaler's SWS_CS_ constant for the picture.
int ScalerColourSpace(const TPictureMatrix& picture);

// Sets the scaler's coefficients and ranges for converting the picture to
// RGB (toRgb) or RGB into the picture. Pictures that are not YUV leave the
// scaler as it is. False when the scaler refuses.
bool SetPictureMatrix(SwsContext* scaler, const TPictureMatrix& picture, bool toRgb);
