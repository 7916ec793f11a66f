// The waveform shown for files without video: strokes from the middle of
// each channel's band, the bands parted by a line.
#include "player/Waveform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

bool IsWhite(const Bitmap32& canvas, int x, int y) {
    const std::uint8_t* pixel = canvas.Row(y) + x * 4;
    return pixel[0] == 255 && pixel[1] == 255 && pixel[2] == 255 && pixel[3] == 255;
}

bool IsBlack(const Bitmap32& canvas, int x, int y) {
    const std::uint8_t* pixel = canvas.Row(y) + x * 4;
    return pixel[0] == 0 && pixel[1] == 0 && pixel[2] == 0 && pixel[3] == 0;
}

// The column as a string: '#' white, '.' black, '?' anything else.
std::string Column(const Bitmap32& canvas, int x) {
    std::string column;
    for (int y = 0; y < canvas.Height; ++y)
        column += IsWhite(canvas, x, y) ? '#' : IsBlack(canvas, x, y) ? '.' : '?';
    return column;
}

} // namespace

TEST(Waveform, OneChannelDrawsEachSampleUpOrDownFromTheMiddle) {
    Bitmap32 canvas;
    canvas.SetSize(4, 40); // a 40-pixel band: 32768 is 18 pixels from its middle at 20
    std::fill(canvas.Data.begin(), canvas.Data.end(), 7); // an older picture
    DrawWaveform(canvas, {16384, -16384, 0, 32767}, 1);
    const std::string up = std::string(11, '.') + std::string(10, '#') + std::string(19, '.');
    const std::string down = std::string(20, '.') + std::string(10, '#') + std::string(10, '.');
    const std::string flat = std::string(20, '.') + "#" + std::string(19, '.');
    const std::string full = std::string(3, '.') + std::string(18, '#') + std::string(19, '.');
    EXPECT_EQ(Column(canvas, 0), up);
    EXPECT_EQ(Column(canvas, 1), down);
    EXPECT_EQ(Column(canvas, 2), flat);
    EXPECT_EQ(Column(canvas, 3), full);
}

TEST(Waveform, ChannelsAreInterleavedEachInItsBandBelowAParting) {
    Bitmap32 canvas;
    canvas.SetSize(2, 40); // two 20-pixel bands, middles at 10 and 30, 9 pixels for 32768
    // Column 0: left silent, right up; column 1: left down, right silent.
    DrawWaveform(canvas, {0, 32767, -32768, 0}, 2);
    const std::string left0 = std::string(10, '.') + "#" + std::string(9, '.');
    const std::string right0 = "#." + std::string(9, '#') + std::string(9, '.');
    EXPECT_EQ(Column(canvas, 0).substr(0, 20), left0);
    EXPECT_EQ(Column(canvas, 0).substr(20), right0);
    const std::string left1 = std::string(10, '.') + std::string(10, '#');
    const std::string right1 = "#" + std::string(9, '.') + "#" + std::string(9, '.');
    EXPECT_EQ(Column(canvas, 1).substr(0, 20), left1);
    EXPECT_EQ(Column(canvas, 1).substr(20), right1);
}

TEST(Waveform, TooFewSamplesLeaveTheCanvasClearedAtItsSize) {
    Bitmap32 canvas;
    canvas.SetSize(3, 10);
    std::fill(canvas.Data.begin(), canvas.Data.end(), 7);
    DrawWaveform(canvas, {100, 200}, 1);
    EXPECT_EQ(canvas.Width, 3);
    EXPECT_EQ(canvas.Height, 10);
    for (int x = 0; x < 3; ++x)
        EXPECT_EQ(Column(canvas, x), std::string(10, '.'));
}
