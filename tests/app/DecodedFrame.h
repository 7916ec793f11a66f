#pragma once
// Frames of converted files decoded by ffmpeg, and how far two pictures lie
// apart, for the window tests that compare what a conversion wrote.
#include "media/Bitmap24.h"
#include "support/TestSupport.h"

#include <QRect>
#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

// One frame of a file as 24-bit BGR, decoded by ffmpeg; empty on failure.
inline Bitmap24 DecodeFrame(const std::string& file, int frameNumber, int width, int height,
                            const std::string& rawFile) {
    Bitmap24 bitmap;
    const std::string select = "select=eq(n\\," + std::to_string(frameNumber) + ")";
    const std::string args =
        "-i " + testsupport::ShellQuote(file) + " -vf " + testsupport::ShellQuote(select) +
        " -vsync 0 -frames:v 1 -f rawvideo -pix_fmt bgr24 " + testsupport::ShellQuote(rawFile);
    if (!testsupport::RunFfmpeg(args)) return bitmap;
    std::ifstream in(rawFile, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
    if (bytes.size() != static_cast<std::size_t>(width) * height * 3) return bitmap;
    bitmap.SetSize(width, height);
    for (int y = 0; y < height; ++y)
        std::copy_n(bytes.data() + static_cast<std::size_t>(y) * width * 3, width * 3,
                    bitmap.Row(y));
    return bitmap;
}

// Mean absolute difference of the channel values inside a rectangle.
inline double MeanDifference(const Bitmap24& a, const Bitmap24& b, const QRect& area) {
    double sum = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left() * 3; x < (area.right() + 1) * 3; ++x)
            sum += std::abs(int(a.Row(y)[x]) - int(b.Row(y)[x]));
    return sum / (area.width() * area.height() * 3.0);
}

// The same over whole pictures; pictures of different sizes lie far apart.
inline double MeanDifference(const Bitmap24& a, const Bitmap24& b) {
    if (a.Width != b.Width || a.Height != b.Height || a.Width <= 0 || a.Height <= 0) return 1e9;
    return MeanDifference(a, b, QRect(0, 0, a.Width, a.Height));
}
