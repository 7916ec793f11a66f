// The frame size and the four zoom modes: the sizes, pads, crops and filter
// texts the arithmetic gives for sources of many shapes.
#include "core/OptionBuilder.h"

#include "BuilderTestEnv.h"

namespace {

using buildertest::VideoSource;

constexpr char kSizeQuestion[] = "Error output Video Size.Use the default size 320x240?";

// ---- Frame size text ----------------------------------------------------------

struct TSizeCase {
    const char* Name;
    const char* Encoder;
    const char* Size; // nullptr: not stored
    TMsgResult Answer;
    bool Asked;
    const char* Expected;
};

class FrameSizeText : public buildertest::TBuilderTest,
                      public ::testing::WithParamInterface<TSizeCase> {};

TEST_P(FrameSizeText, Choice) {
    const TSizeCase& c = GetParam();
    TIniFile::TKeyValues user = {{"paraVideoEncoder", c.Encoder}};
    if (c.Size) user.push_back({"paraVideoSize", c.Size});
    User(user);
    Answer = c.Answer;
    TlvFilesRecord row;
    row.ZoomMode = "full";
    const auto b = Build(row, VideoSource(640, 480));
    EXPECT_EQ(b.Out.FrameSize, c.Expected);
    ASSERT_EQ(Questions.size(), c.Asked ? 1u : 0u);
    if (c.Asked) {
        EXPECT_EQ(Questions[0].Caption, "Warning");
        EXPECT_EQ(Questions[0].Text, kSizeQuestion);
        EXPECT_EQ(Questions[0].Icon, TMsgIcon::Question);
        EXPECT_EQ(Questions[0].Buttons, TMsgButtons::YesNo);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Builder, FrameSizeText,
    ::testing::Values(
        TSizeCase{"given", "mpeg4", "320x240", TMsgResult::Yes, false, "320x240"},
        TSizeCase{"as_source", "mpeg4", "as source", TMsgResult::Yes, false, "640x480"},
        TSizeCase{"height_no_integer", "mpeg4", "320x2a0", TMsgResult::Yes, false, "320x480"},
        TSizeCase{"width_no_integer", "mpeg4", "wx200", TMsgResult::Yes, false, "640x200"},
        TSizeCase{"x_first_yes", "mpeg4", "x240", TMsgResult::Yes, true, "320x240"},
        TSizeCase{"x_first_no", "mpeg4", "x240", TMsgResult::No, true, "640x480"},
        TSizeCase{"x_last", "mpeg4", "320x", TMsgResult::No, true, "640x480"},
        TSizeCase{"no_x", "mpeg4", "320*240", TMsgResult::Yes, true, "320x240"},
        TSizeCase{"missing", "mpeg4", nullptr, TMsgResult::No, true, "640x480"},
        TSizeCase{"capital_x", "mpeg4", "320X240", TMsgResult::No, true, "640x480"},
        TSizeCase{"h263_enlarged", "h263", "400x300", TMsgResult::Yes, false, "704x576"},
        TSizeCase{"h263_cif", "h263", "200x150", TMsgResult::Yes, false, "352x288"},
        TSizeCase{"h263_too_wide", "h263", "800x600", TMsgResult::Yes, false, "704x576"},
        TSizeCase{"h263_small_kept", "h263", "170x100", TMsgResult::Yes, false, "170x100"},
        TSizeCase{"h263_listed_kept", "h263", "352x288", TMsgResult::Yes, false, "352x288"},
        TSizeCase{"h263_listed_part", "h263", "76x144", TMsgResult::Yes, false, "76x144"},
        TSizeCase{"h263_any_case", "H263", "400x300", TMsgResult::Yes, false, "704x576"},
        TSizeCase{"h263_source_size", "h263", "as source", TMsgResult::Yes, false, "640x480"},
        TSizeCase{"h263_default_answer", "h263", "x", TMsgResult::Yes, true, "320x240"},
        TSizeCase{"h263p_not_fitted", "h263p", "400x300", TMsgResult::Yes, false, "400x300"},
        TSizeCase{"hevc_enlarged", "libx265", "8x8", TMsgResult::Yes, false, "16x16"},
        TSizeCase{"av1_enlarged", "LibSvtAv1", "100x50", TMsgResult::Yes, false, "100x64"},
        TSizeCase{"av1_large_kept", "libsvtav1", "64x64", TMsgResult::Yes, false, "64x64"},
        TSizeCase{"vp9_small_kept", "libvpx-vp9", "8x8", TMsgResult::Yes, false, "8x8"}),
    [](const auto& info) { return std::string(info.param.Name); });

// A source smaller than the encoder opens with keeps its shape in the
// enlarged frame: the letterbox pads it.
class SmallestFrame : public buildertest::TBuilderTest {};

TEST_F(SmallestFrame, ASmallSourceIsFittedIntoTheEncodersSmallestFrame) {
    User({{"paraVideoEncoder", "libsvtav1"}, {"paraVideoSize", "as source"}});
    TlvFilesRecord row;
    row.ZoomMode = "lbox";
    const auto b = Build(row, VideoSource(66, 50));
    EXPECT_EQ(b.Out.FrameSize, "66x52");
    EXPECT_EQ(b.Out.VideoFilters, "pad=66:64:0:6");
}

// ---- Zoom modes ---------------------------------------------------------------

struct TZoomCase {
    const char* Name;
    const char* Mode;
    int32_t SW, SH;
    const char* Size;
    int32_t CropTop, CropLeft, CropBottom, CropRight; // the row's crop
    const char* FrameSize;
    const char* Aspect;
    const char* Filters;
    int32_t OutTop, OutBottom, OutLeft, OutRight; // crop options afterwards
};

class Zoom : public buildertest::TBuilderTest, public ::testing::WithParamInterface<TZoomCase> {};

// The row of a case: its zoom mode and crop.
TlvFilesRecord ZoomRow(const TZoomCase& c) {
    TlvFilesRecord row;
    row.ZoomMode = c.Mode;
    row.CropTop = c.CropTop, row.CropLeft = c.CropLeft;
    row.CropBottom = c.CropBottom, row.CropRight = c.CropRight;
    return row;
}

// The frame, its aspect and the filter chain the builder chose.
void ExpectPicture(const buildertest::TBuilt& b, const char* frameSize, const char* aspect,
                   const char* filters) {
    EXPECT_EQ(b.Out.FrameSize, frameSize);
    EXPECT_EQ(b.Out.FrameAspectRatio, aspect);
    EXPECT_EQ(b.Out.VideoFilters, filters);
}

// The picture and the crop options the builder left for the encoder.
void ExpectZoomed(const buildertest::TBuilt& b, const TZoomCase& c) {
    ExpectPicture(b, c.FrameSize, c.Aspect, c.Filters);
    EXPECT_EQ(b.Out.CropTop, c.OutTop);
    EXPECT_EQ(b.Out.CropBottom, c.OutBottom);
    EXPECT_EQ(b.Out.CropLeft, c.OutLeft);
    EXPECT_EQ(b.Out.CropRight, c.OutRight);
}

TEST_P(Zoom, Arithmetic) {
    const TZoomCase& c = GetParam();
    User({{"paraVideoEncoder", "mpeg4"}, {"paraVideoSize", c.Size}});
    ExpectZoomed(Build(ZoomRow(c), VideoSource(c.SW, c.SH)), c);
}

INSTANTIATE_TEST_SUITE_P(
    Letterbox, Zoom,
    ::testing::Values(
        // same ratio: no pads
        TZoomCase{"half_size", "lbox", 1280, 720, "640x360", 0, 0, 0, 0, "640x360", "640:360",
                  "pad=640:360:0:0", 0, 0, 0, 0},
        // 720 / 2.4 = 300 wide, 10 pixels each side
        TZoomCase{"pal_into_qvga", "lbox", 720, 576, "320x240", 0, 0, 0, 0, "300x240", "300:240",
                  "pad=320:240:10:0", 0, 0, 0, 0},
        // wide source into 4:3: bars above and below
        TZoomCase{"wide_into_qvga", "lbox", 640, 360, "320x240", 0, 0, 0, 0, "320x180", "320:180",
                  "pad=320:240:0:30", 0, 0, 0, 0},
        TZoomCase{"narrower_taller", "lbox", 640, 200, "320x240", 0, 0, 0, 0, "320x100", "320:100",
                  "pad=320:240:0:70", 0, 0, 0, 0},
        TZoomCase{"wider_shorter", "lbox", 200, 480, "320x240", 0, 0, 0, 0, "100x240", "100:240",
                  "pad=320:240:110:0", 0, 0, 0, 0},
        // enlarged: 160 / (120 / 360) = 480 wide
        TZoomCase{"enlarged", "lbox", 160, 120, "640x360", 0, 0, 0, 0, "480x360", "480:360",
                  "pad=640:360:80:0", 0, 0, 0, 0},
        TZoomCase{"same_size", "lbox", 320, 240, "320x240", 0, 0, 0, 0, "320x240", "320:240",
                  "pad=320:240:0:0", 0, 0, 0, 0},
        // the filter crops, so the crop options are cleared and no size is set
        TZoomCase{"crop_left", "lbox", 640, 480, "320x240", 0, 8, 0, 0, "", "320:240",
                  "crop=632:480:8:0,scale=320:240,pad=320:240:0:0", 0, 0, 0, 0},
        TZoomCase{"crop_all_sides", "lbox", 720, 576, "320x240", 4, 6, 2, 8, "", "300:240",
                  "crop=706:570:6:4,scale=300:240,pad=320:240:10:0", 0, 0, 0, 0}),
    [](const auto& info) { return std::string(info.param.Name); });

// ---- TV frames of the MPEG formats --------------------------------------------

// The letterbox is worked out on the 4:3 picture the TV shows, and the
// aspect makes the pixels of the TV's shape (8:9 and 16:15 for 720 wide
// NTSC and PAL frames, 10:11 and 59:54 for 352 wide ones).
struct TTvCase {
    const char* Name;
    const char* Encoder;
    const char* Size;
    const char* Mode;
    int32_t SW, SH;
    const char* FrameSize;
    const char* Aspect;
    const char* Filters;
};

class TvFrame : public buildertest::TBuilderTest, public ::testing::WithParamInterface<TTvCase> {};

TEST_P(TvFrame, FourByThreeGeometry) {
    const TTvCase& c = GetParam();
    User({{"paraVideoEncoder", c.Encoder}, {"paraVideoSize", c.Size}});
    TlvFilesRecord row;
    row.ZoomMode = c.Mode;
    ExpectPicture(Build(row, VideoSource(c.SW, c.SH)), c.FrameSize, c.Aspect, c.Filters);
}

INSTANTIATE_TEST_SUITE_P(Builder, TvFrame,
                         ::testing::Values(
                             // 16:9 takes three quarters of the lines: 360 of 480, 432 of 576
                             TTvCase{"dvd_ntsc_wide", "mpeg2video", "720x480", "lbox", 1280, 720,
                                     "720x360", "5760:3240", "pad=720:480:0:60"},
                             TTvCase{"dvd_pal_wide", "mpeg2video", "720x576", "lbox", 1280, 720,
                                     "720x432", "11520:6480", "pad=720:576:0:72"},
                             TTvCase{"vcd_ntsc_wide", "mpeg1video", "352x240", "lbox", 320, 180,
                                     "352x180", "3520:1980", "pad=352:240:0:30"},
                             // shown 385 wide: 720 / (1280 / 385) = 216 lines
                             TTvCase{"vcd_pal_wide", "mpeg1video", "352x288", "lbox", 1280, 720,
                                     "352x216", "20768:11664", "pad=352:288:0:36"},
                             // a 4:3 source fills the 4:3 picture
                             TTvCase{"dvd_ntsc_standard", "mpeg2video", "720x480", "lbox", 640, 480,
                                     "720x480", "5760:4320", "pad=720:480:0:0"},
                             // side bars: 270 of 640 shown pixels, 304 of 720 stored ones
                             TTvCase{"dvd_ntsc_upright", "mpeg2video", "720x480", "lbox", 720, 1280,
                                     "304x480", "2432:4320", "pad=720:480:208:0"},
                             TTvCase{"svcd_ntsc_wide", "mpeg2video", "480x480", "lbox", 1280, 720,
                                     "480x360", "1920:1080", "pad=480:480:0:60"},
                             TTvCase{"dvd_full", "mpeg2video", "720x480", "full", 1280, 720,
                                     "720x480", "5760:4320", ""},
                             // other sizes keep square pixels
                             TTvCase{"mpeg2_vga", "mpeg2video", "640x480", "lbox", 1280, 720,
                                     "640x360", "640:360", "pad=640:480:0:60"},
                             TTvCase{"mpeg4_dvd_size", "mpeg4", "720x480", "lbox", 1280, 720,
                                     "720x404", "720:404", "pad=720:480:0:38"}),
                         [](const auto& info) { return std::string(info.param.Name); });

INSTANTIATE_TEST_SUITE_P(Full, Zoom,
                         ::testing::Values(TZoomCase{"stretch", "full", 1280, 720, "320x240", 0, 0,
                                                     0, 0, "320x240", "320:240", "", 0, 0, 0, 0},
                                           TZoomCase{"with_crop", "full", 640, 480, "320x240", 2, 4,
                                                     6, 8, "320x240", "320:240", "", 2, 6, 4, 8}),
                         [](const auto& info) { return std::string(info.param.Name); });

INSTANTIATE_TEST_SUITE_P(
    PanScan, Zoom,
    ::testing::Values(
        // (1280 / 720 - 4 / 3) x 1280 = 568.9 -> 568 div 2 = 284 each side
        TZoomCase{"wide", "pan", 1280, 720, "320x240", 0, 0, 0, 0, "320x240", "320:240", "", 0, 0,
                  284, 284},
        // 1270 / 720: 546.8 -> 546 div 2 = 273, + 10 = 283, even 282
        TZoomCase{"wide_with_crop", "pan", 1280, 720, "320x240", 0, 10, 0, 0, "320x240", "320:240",
                  "", 0, 0, 282, 282},
        // (520 / 640 - 4 / 3) x 520 = -270.8 -> -270 div 2 = -135, |k| = 135, even 134
        TZoomCase{"tall", "pan", 640, 520, "320x240", 0, 0, 0, 0, "320x240", "320:240", "", 134,
                  134, 0, 0},
        TZoomCase{"tall_with_crop", "pan", 640, 520, "320x240", 4, 0, 0, 0, "320x240", "320:240",
                  "", 138, 138, 0, 0},
        TZoomCase{"four_by_three", "pan", 640, 480, "320x240", 0, 0, 0, 0, "320x240", "320:240", "",
                  0, 0, 0, 0},
        TZoomCase{"cropped_to_four_by_three", "pan", 660, 480, "320x240", 0, 10, 0, 10, "320x240",
                  "320:240", "", 0, 0, 10, 10}),
    [](const auto& info) { return std::string(info.param.Name); });

INSTANTIATE_TEST_SUITE_P(
    Center, Zoom,
    ::testing::Values(
        // W <= SW and H >= SH
        TZoomCase{"narrower_taller", "center", 640, 200, "320x240", 0, 0, 0, 0, "320x240",
                  "320:240", "pad=640:340:0:70:black", 0, 0, 0, 0},
        // W >= SW and H <= SH
        TZoomCase{"wider_shorter", "center", 200, 480, "320x240", 0, 0, 0, 0, "100x240", "320:240",
                  "pad=420:480:110:0:black", 0, 0, 0, 0},
        // larger, r1 > r2
        TZoomCase{"larger_taller_ratio", "center", 160, 100, "320x240", 0, 0, 0, 0, "320x240",
                  "320:240", "pad=160:140:0:20:black", 0, 0, 0, 0},
        // larger, r1 < r2
        TZoomCase{"larger_wider_ratio", "center", 160, 120, "640x360", 0, 0, 0, 0, "480x360",
                  "640:360", "pad=320:120:80:0:black", 0, 0, 0, 0},
        // larger, r1 = r2
        TZoomCase{"larger_same_ratio", "center", 160, 120, "320x240", 0, 0, 0, 0, "320x240",
                  "320:240", "pad=160:120:0:0:black", 0, 0, 0, 0},
        // smaller, r1 > r2: only the top pad
        TZoomCase{"smaller_taller_ratio", "center", 1280, 720, "320x240", 0, 0, 0, 0, "320x240",
                  "320:240", "pad=320:240:0:30:black", 0, 0, 0, 0},
        // smaller, r1 < r2
        TZoomCase{"smaller_wider_ratio", "center", 720, 576, "320x240", 0, 0, 0, 0, "300x240",
                  "320:240", "pad=740:576:10:0:black", 0, 0, 0, 0},
        // smaller, r1 = r2
        TZoomCase{"smaller_same_ratio", "center", 1280, 720, "640x360", 0, 0, 0, 0, "640x360",
                  "640:360", "pad=1280:720:0:0:black", 0, 0, 0, 0},
        TZoomCase{"same_size", "center", 320, 240, "320x240", 0, 0, 0, 0, "320x240", "320:240",
                  "pad=320:240:0:0:black", 0, 0, 0, 0},
        // the crop stays with the crop options
        TZoomCase{"keeps_crop", "center", 1280, 720, "640x360", 2, 0, 0, 0, "640x360", "640:360",
                  "pad=1280:720:0:0:black", 2, 0, 0, 0}),
    [](const auto& info) { return std::string(info.param.Name); });

// A source of an odd size (a single pixel even) gives an even frame as the
// source's size, and the center mode pads it to an even size: the encoders
// and the pad filter take no odd size of two by two colour samples.
INSTANTIATE_TEST_SUITE_P(
    OddSource, Zoom,
    ::testing::Values(TZoomCase{"letterbox_as_source", "lbox", 321, 241, "as source", 0, 0, 0, 0,
                                "322x242", "322:242", "pad=322:242:0:0", 0, 0, 0, 0},
                      TZoomCase{"one_pixel", "lbox", 1, 1, "as source", 0, 0, 0, 0, "2x2", "2:2",
                                "pad=2:2:0:0", 0, 0, 0, 0},
                      TZoomCase{"full_as_source", "full", 321, 241, "as source", 0, 0, 0, 0,
                                "322x242", "322:242", "", 0, 0, 0, 0},
                      TZoomCase{"center_as_source", "center", 321, 241, "as source", 0, 0, 0, 0,
                                "322x242", "322:242", "pad=322:242:0:0:black", 0, 0, 0, 0},
                      TZoomCase{"center_into_vga", "center", 321, 241, "640x480", 0, 0, 0, 0,
                                "640x480", "640:480", "pad=322:242:0:0:black", 0, 0, 0, 0},
                      // a strip far wider or taller than the frame keeps two pixels
                      TZoomCase{"wide_strip", "lbox", 8000, 16, "640x480", 0, 0, 0, 0, "640x4",
                                "640:4", "pad=640:480:0:238", 0, 0, 0, 0},
                      TZoomCase{"tall_strip", "lbox", 16, 8000, "640x480", 0, 0, 0, 0, "4x480",
                                "4:480", "pad=640:480:318:0", 0, 0, 0, 0}),
    [](const auto& info) { return std::string(info.param.Name); });

INSTANTIATE_TEST_SUITE_P(Other, Zoom,
                         ::testing::Values(TZoomCase{"unknown_mode", "Full", 640, 480, "320x240", 0,
                                                     0, 0, 0, "", "", "", 0, 0, 0, 0}),
                         [](const auto& info) { return std::string(info.param.Name); });

// ---- Sources of non-square pixels ---------------------------------------------

// The zoom modes fit the picture as it is shown (720x480 of 32:27 pixels is
// 853x480, 1440x1080 of 4:3 pixels is 1920x1080); crop values stay stored
// pixels.
struct TAnamorphicCase {
    const char* Name;
    const char* Encoder;
    int32_t ShownWidth; // the source's stored size is 720x480 unless SW is given
    TZoomCase Zoom;
};

class Anamorphic : public buildertest::TBuilderTest,
                   public ::testing::WithParamInterface<TAnamorphicCase> {};

TEST_P(Anamorphic, FitsTheShownPicture) {
    const TAnamorphicCase& a = GetParam();
    const TZoomCase& c = a.Zoom;
    User({{"paraVideoEncoder", a.Encoder}, {"paraVideoSize", c.Size}});
    TProbedSource source = VideoSource(c.SW, c.SH);
    source.VideoDisplayWidth = a.ShownWidth;
    ExpectZoomed(Build(ZoomRow(c), source), c);
}

INSTANTIATE_TEST_SUITE_P(
    Builder, Anamorphic,
    ::testing::Values(
        // 853 / 640 = 1.33: 360 lines of 480, bars of 60 (not 26 as for 3:2)
        TAnamorphicCase{"dvd_wide_letterbox",
                        "mpeg4",
                        853,
                        {"", "lbox", 720, 480, "640x480", 0, 0, 0, 0, "640x360", "640:360",
                         "pad=640:480:0:60", 0, 0, 0, 0}},
        TAnamorphicCase{"hd_letterbox",
                        "mpeg4",
                        1920,
                        {"", "lbox", 1440, 1080, "640x480", 0, 0, 0, 0, "640x360", "640:360",
                         "pad=640:480:0:60", 0, 0, 0, 0}},
        // narrow pixels (PAL 4:3 DVD, 8:9): 640x576 shown, side bars into 16:9
        TAnamorphicCase{"narrow_pixels_letterbox",
                        "mpeg4",
                        640,
                        {"", "lbox", 720, 576, "640x360", 0, 0, 0, 0, "400x360", "400:360",
                         "pad=640:360:120:0", 0, 0, 0, 0}},
        // the filter crops stored pixels, the fit is the shown one; the aspect
        // makes square pixels of the engine's frame (the stored 720x480)
        TAnamorphicCase{"dvd_wide_letterbox_crop",
                        "mpeg4",
                        853,
                        {"", "lbox", 720, 480, "640x480", 0, 8, 0, 0, "", "720:480",
                         "crop=712:480:8:0,scale=640:360,pad=640:480:0:60", 0, 0, 0, 0}},
        // the source's own size is the shown one, made even
        TAnamorphicCase{"dvd_wide_as_source",
                        "mpeg4",
                        853,
                        {"", "lbox", 720, 480, "as source", 0, 0, 0, 0, "854x480", "854:480",
                         "pad=854:480:0:0", 0, 0, 0, 0}},
        TAnamorphicCase{
            "dvd_wide_full_as_source",
            "mpeg4",
            853,
            {"", "full", 720, 480, "as source", 0, 0, 0, 0, "854x480", "854:480", "", 0, 0, 0, 0}},
        TAnamorphicCase{
            "dvd_wide_full",
            "mpeg4",
            853,
            {"", "full", 720, 480, "640x480", 0, 0, 0, 0, "640x480", "640:480", "", 0, 0, 0, 0}},
        // (853 / 480 - 4 / 3) x 853 = 378.5 -> 378 div 2 = 189 shown = 159.5
        // stored pixels -> 159, even 158 (square pixels would give 60)
        TAnamorphicCase{
            "dvd_wide_pan",
            "mpeg4",
            853,
            {"", "pan", 720, 480, "640x480", 0, 0, 0, 0, "640x480", "640:480", "", 0, 0, 158, 158}},
        // with 10 stored pixels cropped at the left: 710 stored = 841.2 shown;
        // (841.2 / 480 - 4 / 3) x 841.2 = 352.6 -> 176 shown = 148.5 -> 148,
        // + 10 = 158
        TAnamorphicCase{"dvd_wide_pan_crop",
                        "mpeg4",
                        853,
                        {"", "pan", 720, 480, "640x480", 0, 10, 0, 0, "640x480", "640:480", "", 0,
                         0, 158, 158}},
        // 4:3 shown (640x480 of 8:9 pixels): nothing to cut
        TAnamorphicCase{
            "narrow_pixels_pan",
            "mpeg4",
            640,
            {"", "pan", 720, 480, "320x240", 0, 0, 0, 0, "320x240", "320:240", "", 0, 0, 0, 0}},
        // smaller, r1 > r2: the top pad of the shown picture, 60 (26 for 3:2)
        TAnamorphicCase{"dvd_wide_center",
                        "mpeg4",
                        853,
                        {"", "center", 720, 480, "640x480", 0, 0, 0, 0, "640x480", "640:480",
                         "pad=640:480:0:60:black", 0, 0, 0, 0}},
        // 16:9 DV (40:33 pixels, 873 shown) into DV: its 4:3 TV picture is
        // 640 shown pixels wide, 350 lines of 480 hold the picture
        TAnamorphicCase{"wide_dv_into_dv",
                        "dvvideo",
                        873,
                        {"", "lbox", 720, 480, "720x480", 0, 0, 0, 0, "720x352", "5760:3168",
                         "pad=720:480:0:64", 0, 0, 0, 0}}),
    [](const auto& info) { return std::string(info.param.Name); });

// A DVD target whose format file chooses 16:9 (its full frame) marks the
// frame as a 16:9 picture (pixels of 32:27 for NTSC, 64:45 for PAL): a wide
// source fills it, a 4:3 one gets side bars; other frames stay 4:3.
struct TWideDvdCase {
    const char* Name;
    const char* Format;
    const char* Size;
    int32_t SW, SH;
    const char* FrameSize;
    const char* Aspect;
    const char* Filters;
};

class WideDvd : public buildertest::TBuilderTest,
                public ::testing::WithParamInterface<TWideDvdCase> {};

TEST_P(WideDvd, ChosenPictureShape) {
    const TWideDvdCase& c = GetParam();
    Preset({{"Format", c.Format}});
    User({{"paraVideoEncoder", "mpeg2video"}, {"paraVideoSize", c.Size}});
    TlvFilesRecord row;
    row.ZoomMode = "lbox";
    ExpectPicture(Build(row, VideoSource(c.SW, c.SH)), c.FrameSize, c.Aspect, c.Filters);
}

INSTANTIATE_TEST_SUITE_P(
    Builder, WideDvd,
    ::testing::Values(TWideDvdCase{"ntsc_wide_source", "ntsc-dvd", "720x480", 1280, 720, "720x480",
                                   "23040:12960", "pad=720:480:0:0"},
                      // 853 shown pixels, 640 of them the picture: 106 each side = 90 stored
                      TWideDvdCase{"ntsc_standard_source", "ntsc-dvd", "720x480", 640, 480,
                                   "540x480", "17280:12960", "pad=720:480:90:0"},
                      TWideDvdCase{"pal_wide_source", "pal-dvd", "720x576", 1024, 576, "720x576",
                                   "46080:25920", "pad=720:576:0:0"},
                      // not the full frame: a 4:3 picture of 10:11 pixels, bars above and below
                      TWideDvdCase{"ntsc_part_frame", "ntsc-dvd", "704x480", 1280, 720, "704x360",
                                   "7040:3960", "pad=704:480:0:60"}),
    [](const auto& info) { return std::string(info.param.Name); });

class ZoomErrors : public buildertest::TBuilderTest {};

TEST_F(ZoomErrors, EmptyFrameIsAnError) {
    User({{"paraVideoEncoder", "mpeg4"}, {"paraVideoSize", "0x240"}});
    TlvFilesRecord row;
    for (const char* mode : {"lbox", "center"}) {
        row.ZoomMode = mode;
        EXPECT_THROW(Build(row, VideoSource(640, 480)), std::invalid_argument) << mode;
    }
    row.ZoomMode = "pan";
    row.CropLeft = 320, row.CropRight = 320;
    User({{"paraVideoSize", "320x240"}});
    EXPECT_THROW(Build(row, VideoSource(640, 480)), std::invalid_argument);
    row.ZoomMode = "full";
    EXPECT_EQ(Build(row, VideoSource(640, 480)).Out.FrameSize, "320x240");
}

TEST_F(ZoomErrors, FilterTextIsAppended) {
    User({{"paraVideoEncoder", "mpeg4"}, {"paraVideoSize", "640x360"}});
    TlvFilesRecord row;
    buildertest::TBuilt b;
    b.Out.VideoFilters = "hflip";
    BuildConversionOptions(Global, row, kCode, b.Out, VideoSource(1280, 720), b.In);
    EXPECT_EQ(b.Out.VideoFilters, "hflip,pad=640:360:0:0");

    // a mode without a filter leaves the chain as it is
    row.ZoomMode = "full";
    b.Out.Reset();
    b.Out.VideoFilters = "hflip";
    BuildConversionOptions(Global, row, kCode, b.Out, VideoSource(1280, 720), b.In);
    EXPECT_EQ(b.Out.VideoFilters, "hflip");
}

} // namespace
