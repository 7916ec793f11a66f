// Sources of non-square pixels converted the way the window converts them
// (vantrel-convert --format): the picture keeps the shape it is shown in.
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using testsupport::ShellQuote;

// Rows of a grey picture whose mean is bright (the picture, not a bar).
std::vector<int> BrightRows(const std::vector<unsigned char>& grey, int width) {
    std::vector<int> rows;
    const int height = static_cast<int>(grey.size()) / width;
    for (int y = 0; y < height; ++y) {
        long sum = 0;
        for (int x = 0; x < width; ++x)
            sum += grey[static_cast<std::size_t>(y) * width + x];
        if (sum / width > 128) rows.push_back(y);
    }
    return rows;
}

std::vector<unsigned char> GreyFrame(const std::string& file, const std::string& raw) {
    if (!testsupport::RunFfmpeg("-i " + ShellQuote(file) +
                                " -vf format=gray -frames:v 1 -f rawvideo " + ShellQuote(raw)))
        return {};
    std::ifstream in(raw, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Converts a white picture of `size` and pixel aspect `sar` (with the row
// edits `edits`) and measures the picture lines of the output.
void ExpectLetterboxOf(const std::string& size, const std::string& sar, const std::string& edits) {
    testsupport::TempDir dir;
    const std::string source = dir.file("wide.mp4");
    ASSERT_TRUE(testsupport::MakeMedia(source, "-f lavfi -i color=c=white:size=" + size +
                                                   ":rate=25 -vf setsar=" + sar +
                                                   " -t 0.4 -c:v mpeg4 -q:v 2"));
    const std::string folder = dir.file("out");
    const auto r = testsupport::RunCommand(
        "HOME=" + ShellQuote(dir.file("home")) + " XDG_CONFIG_HOME=" + ShellQuote(dir.file("cfg")) +
        " " + ShellQuote(VANTREL_CONVERT) + " --format 102 --output-dir " + ShellQuote(folder) +
        " " + edits + ShellQuote(source));
    ASSERT_EQ(r.exitCode, 0) << r.output;
    const std::string output = folder + "/wide_(new).mp4";
    ASSERT_EQ(testsupport::ProbeValue(output, "stream=width", "v:0"), "640");
    ASSERT_EQ(testsupport::ProbeValue(output, "stream=height", "v:0"), "480");
    const std::string outSar = testsupport::ProbeValue(output, "stream=sample_aspect_ratio", "v:0");
    EXPECT_TRUE(outSar == "1:1" || outSar == "0:1" || outSar == "N/A") << outSar;
    const std::vector<int> rows = BrightRows(GreyFrame(output, dir.file("frame.gray")), 640);
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows.front(), 60);
    EXPECT_EQ(rows.back(), 419);
    EXPECT_EQ(rows.size(), 360u);
}

// White 16:9 pictures of non-square pixels letterboxed into the 640x480
// of the MP4 format: 360 picture lines, 60 black ones above and below. A
// DVD frame (720x480 of 32:27 pixels) taken as 3:2 would leave bars of 26,
// anamorphic HD (1440x1080 of 4:3 pixels) taken as 4:3 none.
TEST(AnamorphicConversion, WidePicturesKeepTheirShapeInTheLetterbox) {
    for (const char* shape : {"720x480 32/27", "1440x1080 4/3"}) {
        SCOPED_TRACE(shape);
        const std::string text = shape;
        const std::size_t space = text.find(' ');
        ExpectLetterboxOf(text.substr(0, space), text.substr(space + 1), "");
    }
    // A crop is done by the filters, the pixels still come out square.
    SCOPED_TRACE("cropped");
    ExpectLetterboxOf("720x480", "32/27", "--crop 0,8,0,0 ");
}

// 16:9 DV (720x480 of 40:33 pixels, 873 shown) into the NTSC DV format,
// whose frame is a 4:3 picture of 8:9 pixels (640 shown): the wide picture
// takes 350 of the 4:3 picture's 480 lines, 352 made even (a frame taken as
// square pixels would give it 396).
TEST(AnamorphicConversion, WideDvIntoDvIsLetterboxedInItsFourByThreePicture) {
    testsupport::TempDir dir;
    const std::string source = dir.file("wide dv.mp4");
    ASSERT_TRUE(testsupport::MakeMedia(
        source, "-f lavfi -i color=c=white:size=720x480:rate=30000/1001 -f lavfi -i "
                "sine=sample_rate=48000 -vf setsar=40/33 -t 0.4 -c:v mpeg4 -q:v 2 -c:a aac"));
    const std::string folder = dir.file("out");
    const auto r = testsupport::RunCommand(
        "HOME=" + ShellQuote(dir.file("home")) + " XDG_CONFIG_HOME=" + ShellQuote(dir.file("cfg")) +
        " " + ShellQuote(VANTREL_CONVERT) + " --format 108 --output-dir " + ShellQuote(folder) +
        " " + ShellQuote(source));
    ASSERT_EQ(r.exitCode, 0) << r.output;
    const std::string output = folder + "/wide dv_(new).dv";
    EXPECT_EQ(testsupport::ProbeValue(output, "stream=sample_aspect_ratio", "v:0"), "8:9");
    const std::vector<int> rows = BrightRows(GreyFrame(output, dir.file("frame.gray")), 720);
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows.front(), 64);
    EXPECT_EQ(rows.size(), 352u);
}

} // namespace
