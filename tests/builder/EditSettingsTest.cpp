#include "core/OptionBuilder.h"
#include "effects/EditSettings.h"

#include <gtest/gtest.h>

namespace {

TWmRec TextLayer(const std::string& text) {
    TWmRec layer;
    layer.Kind = kWmTextLayer;
    layer.Text = text;
    layer.Font = TWmFont{"Sans", 12, fsBold, 0x0000FF};
    return layer;
}

TWmRec ImageLayer(const std::string& file) {
    TWmRec layer;
    layer.Kind = kWmImageLayer;
    layer.ImageFile = file;
    return layer;
}

TEST(NewFilesRecord, StartsUntouched) {
    const TlvFilesRecord rec =
        NewFilesRecord("/in/clip.avi", "/out/clip_(new)_ipod.mp4", 59'900'000, "pan");
    EXPECT_EQ(rec.SourceFile, "/in/clip.avi");
    EXPECT_EQ(rec.DestinationFile, "/out/clip_(new)_ipod.mp4");
    EXPECT_EQ(rec.Duration, 59); // 59.9 s shows as 59
    EXPECT_EQ(rec.ZoomMode, "pan");
    EXPECT_EQ(rec.TrimStart, 0);
    EXPECT_EQ(rec.TrimLength, 0);
    EXPECT_EQ(rec.Brightness, 255);
    EXPECT_EQ(rec.Saturation, 255);
    EXPECT_TRUE(rec.Watermarks.empty());
    EXPECT_FALSE(NeedsFrameHook(rec));
    EXPECT_FALSE(HasCrop(rec));
}

struct TAdjustCase {
    const char* Name;
    int32_t Brightness, Contrast, Saturation, Exposure;
    bool ColorAdjust, Exposed;
};

class Adjustments : public ::testing::TestWithParam<TAdjustCase> {};

TEST_P(Adjustments, DecideTheFrameHook) {
    const TAdjustCase& c = GetParam();
    TlvFilesRecord rec;
    rec.Brightness = c.Brightness;
    rec.Contrast = c.Contrast;
    rec.Saturation = c.Saturation;
    rec.Exposure = c.Exposure;
    EXPECT_EQ(HasColorAdjust(rec), c.ColorAdjust);
    EXPECT_EQ(HasExposure(rec), c.Exposed);
    EXPECT_EQ(NeedsFrameHook(rec), c.ColorAdjust || c.Exposed);
}

INSTANTIATE_TEST_SUITE_P(
    EditSettings, Adjustments,
    ::testing::Values(TAdjustCase{"untouched", 255, 0, 255, 0, false, false},
                      TAdjustCase{"contrast_alone", 255, 10, 255, 0, true, false},
                      // 256 is the neutral value of the effect, but not untouched
                      TAdjustCase{"brightness_256", 256, 0, 255, 0, true, false},
                      TAdjustCase{"saturation_0", 255, 0, 0, 0, true, false},
                      TAdjustCase{"exposure_negative", 255, 0, 255, -1, false, true},
                      TAdjustCase{"all", 0, -100, 512, 512, true, true}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(Watermarks, OnlyTheFirstLayerCounts) {
    TlvFilesRecord rec;
    EXPECT_FALSE(HasWatermark(rec));

    rec.Watermarks = {TextLayer(""), TextLayer("second")};
    EXPECT_FALSE(HasWatermark(rec));
    EXPECT_FALSE(NeedsFrameHook(rec));

    rec.Watermarks = {TextLayer("(c) 2026")};
    EXPECT_TRUE(HasWatermark(rec));
    EXPECT_TRUE(NeedsFrameHook(rec));

    rec.Watermarks = {ImageLayer("/pics/logo.bmp"), TextLayer("")};
    EXPECT_TRUE(HasWatermark(rec));
}

TEST(Watermarks, LayerIsVisibleForItsWholeSeconds) {
    TWmRec layer = TextLayer("x");
    layer.StartTime = 5;
    layer.EndTime = 5;
    EXPECT_FALSE(IsLayerVisible(layer, 4'999'999));
    EXPECT_TRUE(IsLayerVisible(layer, 5'000'000));
    EXPECT_TRUE(IsLayerVisible(layer, 5'999'999));
    EXPECT_FALSE(IsLayerVisible(layer, 6'000'000));

    layer.StartTime = 0;
    layer.EndTime = 2;
    EXPECT_TRUE(IsLayerVisible(layer, 0));
    EXPECT_TRUE(IsLayerVisible(layer, 2'999'999));
    EXPECT_FALSE(IsLayerVisible(layer, 3'000'000));
}

struct TCropCase {
    int32_t Top, Left, Bottom, Right;
    bool Crop;
};

class Crops : public ::testing::TestWithParam<TCropCase> {};

TEST_P(Crops, AreHandedOverTogetherOrNotAtAll) {
    const TCropCase& c = GetParam();
    TlvFilesRecord rec;
    rec.CropTop = c.Top, rec.CropLeft = c.Left, rec.CropBottom = c.Bottom, rec.CropRight = c.Right;
    EXPECT_EQ(HasCrop(rec), c.Crop);

    TInputOptions in;
    TOutputOptions out;
    HandOverRowEdits(rec, in, out);
    if (c.Crop) {
        EXPECT_EQ(out.CropTop, c.Top);
        EXPECT_EQ(out.CropBottom, c.Bottom);
        EXPECT_EQ(out.CropLeft, c.Left);
        EXPECT_EQ(out.CropRight, c.Right);
    } else {
        EXPECT_EQ(out.CropTop, -1);
        EXPECT_EQ(out.CropBottom, -1);
        EXPECT_EQ(out.CropLeft, -1);
        EXPECT_EQ(out.CropRight, -1);
    }
}

INSTANTIATE_TEST_SUITE_P(EditSettings, Crops,
                         ::testing::Values(TCropCase{0, 0, 0, 0, false},
                                           TCropCase{2, 0, 0, 0, true}, TCropCase{0, 0, 0, 4, true},
                                           TCropCase{0, 6, 0, 0, true}, TCropCase{0, 0, 8, 0, true},
                                           TCropCase{-2, 0, 0, 0, false}));

TEST(TrimHandOver, StartFromZeroLengthOnlyWhenPositive) {
    TlvFilesRecord rec;
    TInputOptions in;
    TOutputOptions out;
    HandOverRowEdits(rec, in, out);
    EXPECT_EQ(in.StartTime, 0);
    EXPECT_EQ(out.RecordingTime, TOutputOptions().RecordingTime);

    rec.TrimStart = 3'000'000;
    rec.TrimLength = 7'000'000;
    in.Reset(), out.Reset();
    HandOverRowEdits(rec, in, out);
    EXPECT_EQ(in.StartTime, 3'000'000);
    EXPECT_EQ(out.RecordingTime, 7'000'000);

    rec.TrimStart = -1;
    rec.TrimLength = -5;
    in.Reset(), out.Reset();
    HandOverRowEdits(rec, in, out);
    EXPECT_EQ(in.StartTime, TInputOptions().StartTime);
    EXPECT_EQ(out.RecordingTime, TOutputOptions().RecordingTime);
}

} // namespace
