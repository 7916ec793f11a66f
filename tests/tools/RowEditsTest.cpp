// The per-file edits of vantrel-convert --format: parsing into the row.
#include "RowEdits.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <array>
#include <stdexcept>

namespace {

TlvFilesRecord Row() {
    return NewFilesRecord("in.avi", "out.avi", 12500000, "lbox");
}

TEST(RowEdits, AdjustmentsCropAndTrim) {
    TlvFilesRecord row = Row();
    ApplyRowEdits({"--brightness", "300", "--contrast", "-100", "--saturation", "0", "--exposure",
                   "-255", "--crop", "3,4,5,7", "--trim", "2,6"},
                  row);
    EXPECT_EQ(row.Brightness, 300);
    EXPECT_EQ(row.Contrast, -100);
    EXPECT_EQ(row.Saturation, 0);
    EXPECT_EQ(row.Exposure, -255);
    EXPECT_EQ((std::array{row.CropTop, row.CropLeft, row.CropBottom, row.CropRight}),
              (std::array{2, 4, 4, 6}));
    EXPECT_EQ(row.TrimStart, 2000000);
    EXPECT_EQ(row.TrimLength, 6000000);
    EXPECT_TRUE(row.Watermarks.empty());
}

TEST(RowEdits, LayersInOrderWithTheEditorsDefaults) {
    testsupport::TempDir dir;
    const std::string bmp = dir.file("logo@2x.bmp");
    ASSERT_TRUE(testsupport::RunFfmpeg("-f lavfi -i color=red:size=34x18 -frames:v 1 " + bmp));
    TlvFilesRecord row = Row();
    const TTextMeasure measure = [](const std::string& text, const TWmFont& font, int32_t& w,
                                    int32_t& h) {
        w = static_cast<int32_t>(text.size()) * font.Size;
        h = font.Size;
    };
    ApplyRowEdits({"--text", "a@b@-10,-5", "--image", bmp + "@7,8,200,3,3", "--text", "Hi@1,2,0"},
                  row, measure);
    ASSERT_EQ(row.Watermarks.size(), 3u);
    const TWmRec& t = row.Watermarks[0];
    EXPECT_EQ(t.Kind, kWmTextLayer);
    EXPECT_EQ(t.Text, "a@b");
    EXPECT_EQ((std::array{t.TextLeft, t.TextTop, t.TextWidth, t.TextHeight}),
              (std::array{-10, -5, 3 * 26, 26}));
    EXPECT_EQ(t.TextAlpha, 125);
    EXPECT_EQ(t.Font->Color, 0xFF0000u);
    EXPECT_FALSE(t.UseBackColor);
    EXPECT_EQ(t.StartTime, 0);
    EXPECT_EQ(t.EndTime, 12);
    const TWmRec& i = row.Watermarks[1];
    EXPECT_EQ(i.Kind, kWmImageLayer);
    EXPECT_EQ(i.ImageFile, bmp);
    EXPECT_EQ((std::array{i.ImageLeft, i.ImageTop, i.ImageWidth, i.ImageHeight, i.ImageAlpha}),
              (std::array{7, 8, 34, 18, 200}));
    EXPECT_EQ(i.StartTime, 3);
    EXPECT_EQ(i.EndTime, 3);
    EXPECT_EQ(row.Watermarks[2].TextAlpha, 0);
    EXPECT_TRUE(NeedsFrameHook(row));
}

TEST(RowEdits, BadArgumentsAreRefused) {
    const std::vector<std::vector<std::string>> cases = {
        {"--brightness", "513"}, {"--brightness", "-1"},           {"--contrast", "101"},
        {"--saturation", "x"},   {"--exposure", "-256"},           {"--exposure", "1.5"},
        {"--crop", "1,2,3"},     {"--crop", "-2,0,0,0"},           {"--trim", "5"},
        {"--trim", "-1,2"},      {"--text", "no place"},           {"--text", "@1,2"},
        {"--text", "a@1"},       {"--text", "a@1,2,256"},          {"--text", "a@1,2,9,5,4"},
        {"--text", "a@1,2,9,5"}, {"--image", "f.bmp@1,2,3,4,5,6"}, {"--volume", "3"},
        {"--brightness"},
    };
    for (const auto& args : cases) {
        TlvFilesRecord row = Row();
        EXPECT_THROW(ApplyRowEdits(args, row), std::invalid_argument) << args[0];
    }
}

#ifdef VANTREL_CONVERT
TEST(RowEdits, PrintedOptionsShowTheEdits) {
    testsupport::TempDir dir;
    const std::string src = dir.file("src.avi");
    ASSERT_TRUE(
        testsupport::MakeMedia(src, "-f lavfi -i testsrc2=size=160x120:rate=25 -t 3 -c:v mpeg4"));
    const std::string tool = std::string("XDG_CONFIG_HOME=") +
                             testsupport::ShellQuote(dir.file("cfg")) + " " + VANTREL_CONVERT +
                             " --format 101 --print-options " + testsupport::ShellQuote(src);
    const auto edited = testsupport::RunCommand(tool + " --trim 1,2 --crop 0,8,0,0");
    EXPECT_EQ(edited.exitCode, 0) << edited.output;
    EXPECT_NE(edited.output.find("ss=1000000"), std::string::npos) << edited.output;
    EXPECT_NE(edited.output.find("crop=152:120:8:0,"), std::string::npos) << edited.output;
    const auto plain = testsupport::RunCommand(tool);
    EXPECT_EQ(plain.output.find("ss=1000000"), std::string::npos) << plain.output;
    EXPECT_EQ(plain.output.find("crop="), std::string::npos) << plain.output;
    const auto bad = testsupport::RunCommand(tool + " --contrast 101");
    EXPECT_EQ(bad.exitCode, 1);
    EXPECT_NE(bad.output.find("Invalid value for --contrast: 101"), std::string::npos)
        << bad.output;
}
#endif

} // namespace
