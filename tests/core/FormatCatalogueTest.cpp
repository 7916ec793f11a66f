#include "core/FormatCatalogue.h"

#include <gtest/gtest.h>

namespace {

TEST(FormatCatalogueTest, CaptionsTableHoldsTheThreeCategoriesInOrder) {
    TFormatCaptions captions;
    captions[5][7] = "left over";
    FillFormatCaptions(captions);
    EXPECT_EQ(captions[5][7], "") << "filling clears the whole table";
    EXPECT_EQ(captions[0][0], "ZUNE - MPEG-4 Video (*.mp4)");
    EXPECT_EQ(captions[0][2], "ZUNE - Windows Media Video (*.wmv)");
    EXPECT_EQ(captions[0][3], "");
    EXPECT_EQ(captions[1][8], "DV - NTSC -Digital Video Format (*.dv)");
    EXPECT_EQ(captions[1][9], "DV - PAL -Digital Video Format (*.dv)");
    EXPECT_EQ(captions[1][10], "");
    EXPECT_EQ(captions[2][3], "WMA - Windows Meida Audio (*.wma)");
    EXPECT_EQ(captions[2][6], "AC-3 Audio Codec (*.ac3)");
    EXPECT_EQ(captions[2][7], "");
    EXPECT_EQ(captions[3][0], "H.265/HEVC Video (*.mp4)");
    EXPECT_EQ(captions[3][3], "Matroska - keep streams, no re-encoding (*.mkv)");
    EXPECT_EQ(captions[3][6], "ALAC Apple Lossless Audio (*.m4a)");
    EXPECT_EQ(captions[3][7], "");
    EXPECT_EQ(captions[4][0], "");
}

TEST(FormatCatalogueTest, CodesAreCategoryTimesHundredPlusPosition) {
    TFormatCaptions captions;
    FillFormatCaptions(captions);
    const std::vector<int> codes = FormatCodes();
    ASSERT_EQ(codes.size(), 27u);
    for (int code : codes)
        EXPECT_EQ(FormatCaptionOf(code), captions[code / 100][code % 100]) << code;
    EXPECT_EQ(FormatCaptionOf(1), "ZUNE - MPEG-4 AVC Video (*.mp4)");
    EXPECT_EQ(FormatCaptionOf(103), "H.264/MPEG-4 AVC Video (*.mp4)");
    EXPECT_EQ(FormatCaptionOf(201), "AAC Advenced Audio Codec (*.aac)");
    EXPECT_EQ(FormatCaptionOf(204), "WAV - Waveform Audio (*.wav)");
    EXPECT_EQ(FormatCaptionOf(302), "WebM VP9 Video (*.webm)");
    EXPECT_EQ(codes.back(), 306);
    for (int unknown : {-1, 3, 99, 110, 207, 307, 400, 1000})
        EXPECT_EQ(FormatCaptionOf(unknown), "");
}

TEST(FormatCatalogueTest, CategoryCaptionsAndSectionNames) {
    EXPECT_EQ(CategoryCaption(0), "Zune Video");
    EXPECT_EQ(CategoryCaption(1), "General Video formates");
    EXPECT_EQ(CategoryCaption(2), "General Audio formates");
    EXPECT_EQ(CategoryCaption(3), "Modern formats");
    EXPECT_EQ(CategoryCaption(4), "");
    EXPECT_EQ(CategoryCaption(-1), "");
    EXPECT_EQ(FormatSectionName(103), "formatInfo103");
    EXPECT_EQ(FormatSectionName(0), "formatInfo0");
}

} // namespace
