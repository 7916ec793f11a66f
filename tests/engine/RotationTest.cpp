// Phone videos carry a rotation: converted, they stand upright (checked
// against ffmpeg's own rotated decoding), carry no rotation any more, and a
// copied stream keeps its rotation.
#include "ConversionTestSupport.h"

#include <cstdlib>
#include <fstream>
#include <iterator>

using testsupport::ProbeValue;
using testsupport::ShellQuote;

namespace {

// A small grey picture of frame 10 of `file` after `filters` (decoded by
// ffmpeg, which turns display-matrix pictures upright by itself).
std::vector<unsigned char> GreyFrame(const std::string& file, const std::string& filters,
                                     const std::string& folder) {
    const std::string raw = folder + "/frame.gray";
    const std::string chain = (filters.empty() ? "" : filters + ",") +
                              "select=eq(n\\,10),scale=24:32:flags=area,format=gray";
    if (!testsupport::RunFfmpeg("-i " + ShellQuote(file) + " -vf " + ShellQuote(chain) +
                                " -frames:v 1 -f rawvideo " + ShellQuote(raw)))
        return {};
    std::ifstream in(raw, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Mean absolute difference of two grey pictures (255 when they cannot be compared).
double Difference(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b) {
    if (a.empty() || a.size() != b.size()) return 255.0;
    double sum = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        sum += std::abs(static_cast<int>(a[i]) - static_cast<int>(b[i]));
    return sum / static_cast<double>(a.size());
}

struct TRotatedClip {
    std::string Name;
    std::string File;
    std::string Upright; // the filter that turns the stored picture upright
    std::string Wrong;   // the other quarter turn
};

class Rotation : public ::testing::Test {
protected:
    void SetUp() override {
        RequireLibraries();
        const std::string plain = Out.file("plain.mp4");
        ASSERT_TRUE(testsupport::MakeMedia(
            plain, "-f lavfi -i testsrc2=size=160x120:rate=25 -t 1 -c:v mpeg4 -q:v 3"));
        // ffmpeg writes a display matrix for a "rotate" given to a copied stream.
        for (const char* turn : {"90", "270"}) {
            TRotatedClip clip;
            clip.Name = std::string("matrix-") + turn;
            clip.File = Out.file(clip.Name + ".mp4");
            ASSERT_TRUE(testsupport::RunFfmpeg("-i " + ShellQuote(plain) +
                                               " -c copy -metadata:s:v:0 rotate=" + turn + " " +
                                               ShellQuote(clip.File)));
            clip.Upright = ""; // ffmpeg turns it by itself
            Clips.push_back(clip);
        }
        // The older "rotate" tag, which a Matroska file keeps as it is.
        for (const char* turn : {"90", "270"}) {
            TRotatedClip clip;
            clip.Name = std::string("tag-") + turn;
            clip.File = Out.file(clip.Name + ".mkv");
            ASSERT_TRUE(testsupport::MakeMedia(
                clip.File, std::string("-f lavfi -i testsrc2=size=160x120:rate=25 -t 1 -c:v "
                                       "mpeg4 -q:v 3 -metadata:s:v:0 ROTATE=") +
                               turn));
            clip.Upright = std::string(turn) == "90" ? "transpose=clock" : "transpose=cclock";
            Clips.push_back(clip);
        }
        // Which way ffmpeg turned each matrix clip decides its wrong way.
        for (TRotatedClip& clip : Clips) {
            const auto upright = GreyFrame(clip.File, clip.Upright, Out.path().string());
            const auto clock = GreyFrame(plain, "transpose=clock", Out.path().string());
            const bool isClock = Difference(upright, clock) < 8.0;
            clip.Wrong = isClock ? "transpose=cclock" : "transpose=clock";
            if (clip.Upright.empty())
                clip.Upright = isClock ? "transpose=clock" : "transpose=cclock";
        }
        Plain = plain;
    }

    TTerminateInfo Convert(const std::string& input, const std::string& output,
                           const std::string& lines) {
        RecordingConverter c;
        if (c.Add(input, output, lines) < 0)
            return TTerminateInfo{-2, false, true, c.Converter.LastErrMsg, "", 100};
        if (!c.Run()) return TTerminateInfo{-2, false, true, "no batch end", "", 100};
        return c.TaskEnd(0);
    }

    // Our output against the source turned by ffmpeg, and against the
    // wrong turn (which must be far off, or the check proves nothing).
    void ExpectUpright(const TRotatedClip& clip, const std::string& output) {
        const std::string folder = Out.path().string();
        const auto ours = GreyFrame(output, "", folder);
        const auto reference = GreyFrame(Plain, clip.Upright, folder);
        const auto wrong = GreyFrame(Plain, clip.Wrong, folder);
        ASSERT_GT(Difference(reference, wrong), 20.0);
        EXPECT_LT(Difference(ours, reference), 10.0) << clip.Name;
        EXPECT_GT(Difference(ours, wrong), 20.0) << clip.Name;
    }

    testsupport::TempDir Out;
    EngineLog Log;
    std::vector<TRotatedClip> Clips;
    std::string Plain;
};

TEST_F(Rotation, EncodedPicturesStandUprightWithoutARotationLeft) {
    for (const TRotatedClip& clip : Clips) {
        SCOPED_TRACE(clip.Name);
        const std::string mp4 = Out.file(clip.Name + "-out.mp4");
        TTerminateInfo end = Convert(clip.File, mp4, "vcodec=mpeg4\nqscale=3");
        ASSERT_TRUE(end.Finished) << end.ExceptionMsg;
        // The size follows the picture as it is shown.
        EXPECT_EQ(ProbeValue(mp4, "stream=width", "v:0"), "120");
        EXPECT_EQ(ProbeValue(mp4, "stream=height", "v:0"), "160");
        EXPECT_EQ(ProbeValue(mp4, "stream_side_data=rotation", "v:0"), "");
        EXPECT_EQ(ProbeValue(mp4, "stream_tags=rotate", "v:0"), "");
        ExpectUpright(clip, mp4);
        // Into a target's fixed size the upright picture is scaled as a whole.
        const std::string dv = Out.file(clip.Name + "-out.dv");
        end =
            Convert(clip.File, dv, "f=dv\nvcodec=dvvideo\ns=720x576\nr=25\npix_fmt=yuv420p\nan=1");
        ASSERT_TRUE(end.Finished) << end.ExceptionMsg;
        EXPECT_EQ(ProbeValue(dv, "stream=width", "v:0"), "720");
        ExpectUpright(clip, dv);
    }
}

TEST_F(Rotation, CopiedStreamKeepsItsRotation) {
    const TRotatedClip& clip = Clips[0];
    const std::string copy = Out.file("copy.mp4");
    const TTerminateInfo end = Convert(clip.File, copy, "vcodec=copy");
    ASSERT_TRUE(end.Finished) << end.ExceptionMsg;
    EXPECT_EQ(ProbeValue(copy, "stream=width", "v:0"), "160");
    EXPECT_EQ(ProbeValue(copy, "stream_side_data=rotation", "v:0"),
              ProbeValue(clip.File, "stream_side_data=rotation", "v:0"));
    EXPECT_NE(ProbeValue(copy, "stream_side_data=rotation", "v:0"), "");
}

} // namespace
