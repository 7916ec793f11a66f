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

// A white 16:9 DVD frame (720x480 of 32:27 pixels) letterboxed into the
// 640x480 of the MP4 format: 360 picture lines, 60 black ones above and
// below (a 3:2 picture would leave bars of 26).
TEST(AnamorphicConversion, WideDvdFrameKeepsItsShapeInTheLetterbox) {
    testsupport::TempDir dir;
    const std::string source = dir.file("dvd.mp4");
    ASSERT_TRUE(testsupport::MakeMedia(source, "-f lavfi -i color=c=white:size=720x480:rate=25 "
                                               "-vf setsar=32/27 -t 0.4 -c:v mpeg4 -q:v 2"));
    const std::string folder = dir.file("out");
    const auto r = testsupport::RunCommand(
        "HOME=" + ShellQuote(dir.file("home")) + " XDG_CONFIG_HOME=" + ShellQuote(dir.file("cfg")) +
        " " + ShellQuote(VANTREL_CONVERT) + " --format 102 --output-dir " + ShellQuote(folder) +
        " " + ShellQuote(source));
    ASSERT_EQ(r.exitCode, 0) << r.output;
    const std::string output = folder + "/dvd_(new).mp4";
    ASSERT_EQ(testsupport::ProbeValue(output, "stream=width", "v:0"), "640");
    ASSERT_EQ(testsupport::ProbeValue(output, "stream=height", "v:0"), "480");
    const std::string sar = testsupport::ProbeValue(output, "stream=sample_aspect_ratio", "v:0");
    EXPECT_TRUE(sar == "1:1" || sar == "0:1" || sar == "N/A") << sar;
    const std::vector<int> rows = BrightRows(GreyFrame(output, dir.file("frame.gray")), 640);
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows.front(), 60);
    EXPECT_EQ(rows.back(), 419);
    EXPECT_EQ(rows.size(), 360u);
}

} // namespace
