// The settings of a target on their own: the norm named, guessed from the
// frame rates or from the fallback, and the errors in their order. Needs no
// media library.
#include "engine/FFmpegRecords.h"
#include "engine/TargetProfiles.h"
#include "media/FFmpegLogger.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string TargetError(const std::string& type, const std::string& norm, const TNormClues& clues) {
    try {
        TargetSettings(type, norm, clues);
    } catch (const FFmpegException& e) {
        return e.what();
    }
    return "";
}

} // namespace

// A named norm needs no frame rate; film takes the NTSC side at film rate.
TEST(TargetSettings, NamedNormsPickTheirSide) {
    const TTargetSettings dv = TargetSettings("dv", "pal", TNormClues{});
    EXPECT_EQ(dv.Format, "dv");
    EXPECT_EQ(dv.FrameSize, "720x576");
    EXPECT_EQ(dv.PixFmt, "yuv420p");
    EXPECT_EQ(dv.FrameRate, "25");
    EXPECT_TRUE(dv.VideoCodec.empty()); // the codecs stay
    EXPECT_TRUE(dv.DefaultAspect.empty());

    const TTargetSettings vcd = TargetSettings("vcd", "film", TNormClues{});
    EXPECT_EQ(vcd.FrameSize, "352x240");
    EXPECT_EQ(vcd.FrameRate, "24000/1001");
    ASSERT_FALSE(vcd.Options.empty());
    EXPECT_EQ(vcd.Options.front(), (std::pair<std::string, std::string>{"g", "18"}));
    EXPECT_FLOAT_EQ(vcd.MuxPreload, 0.44f);
    EXPECT_FALSE(vcd.MonoOnlyToStereo);
    EXPECT_EQ(vcd.DefaultAspect, "4:3");
}

// The inputs are asked only when the given frame rate has no norm; an
// input at 23.976 stands for NTSC (not film); with no rate deciding, the
// fallback does, and anything but "film" or "ntsc" means PAL.
TEST(TargetSettings, GuessedNormFromRatesThenFallback) {
    int asked = 0;
    TNormClues clues{{25, 1},
                     [&] {
                         ++asked;
                         return std::vector<AVRational>{{10, 1}, {24000, 1001}};
                     },
                     "film",
                     false};
    EXPECT_EQ(TargetSettings("dvd", "auto", clues).FrameSize, "720x576");
    EXPECT_EQ(asked, 0);

    clues.FrameRate = {15, 1};
    const TTargetSettings fromInput = TargetSettings("dvd", "auto", clues);
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(fromInput.FrameSize, "720x480");
    EXPECT_EQ(fromInput.FrameRate, "30000/1001");

    clues.InputVideoRates = nullptr;
    EXPECT_EQ(TargetSettings("dvd", "auto", clues).FrameRate, "24000/1001");
    clues.Fallback = "secam";
    EXPECT_EQ(TargetSettings("dvd", "auto", clues).FrameRate, "25");
}

// A norm to guess without a frame rate fails before the type is looked at.
TEST(TargetSettings, ErrorsInTheirOrder) {
    EXPECT_EQ(TargetError("nosuch", "auto", TNormClues{}), "frame_rate is invalid.");
    EXPECT_EQ(TargetError("nosuch", "ntsc", TNormClues{}), "Unknown target type");
    EXPECT_EQ(TargetError("svcd", "ntsc", TNormClues{}), "");
}

// The guessed norm is logged only when verbose; a named one never.
TEST(TargetSettings, TheGuessIsLoggedWhenVerbose) {
    std::vector<std::string> lines;
    GetLogger().TriggerEventInMainThread = false;
    GetLogger().SetOnLog([&](TFFBaseComponent*, std::uint32_t, TLogLevel, const std::string& text) {
        lines.push_back(text);
    });
    TargetSettings("dvd", "auto", TNormClues{{25, 1}, nullptr, "", false});
    TargetSettings("dvd", "pal", TNormClues{{25, 1}, nullptr, "", true});
    EXPECT_TRUE(lines.empty());
    TargetSettings("dvd", "auto", TNormClues{{25, 1}, nullptr, "", true});
    GetLogger().SetOnLog(nullptr);
    EXPECT_EQ(lines, std::vector<std::string>{"Assuming PAL for target."});
}
