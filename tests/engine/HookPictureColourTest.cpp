// The pictures the frame hook and the preview get from an HDR source: the
// SDR picture that is written, not the HDR signal seen as if it were SDR.
#include "ConversionTestSupport.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

// Mean brightness and mean spread of the colour channels (a measure of
// saturation) of a bitmap, in 8-bit steps.
struct TBitmapMeans {
    double Level = 0, Spread = 0;
};

TBitmapMeans Measure(const Bitmap24& bitmap) {
    double level = 0, spread = 0;
    for (int y = 0; y < bitmap.Height; ++y) {
        const std::uint8_t* p = bitmap.Row(y);
        for (int x = 0; x < bitmap.Width; ++x, p += 3) {
            level += (p[0] + p[1] + p[2]) / 3.0;
            spread += std::max({p[0], p[1], p[2]}) - std::min({p[0], p[1], p[2]});
        }
    }
    const double count = double(bitmap.Width) * bitmap.Height;
    return count > 0 ? TBitmapMeans{level / count, spread / count} : TBitmapMeans{};
}

void ExpectClose(const TBitmapMeans& got, const TBitmapMeans& want, const char* what) {
    ASSERT_GT(want.Level, 0) << what;
    EXPECT_NEAR(got.Level, want.Level, 0.15 * want.Level) << what << ": mean level";
    EXPECT_NEAR(got.Spread, want.Spread, 0.15 * want.Spread) << what << ": mean saturation";
}

class HookPictureColour : public ::testing::Test {
protected:
    void SetUp() override { RequireLibraries(); }

    // The first hook picture and the first preview of converting `source`.
    void Convert(const std::string& source, const std::string& output, TBitmapMeans& hook,
                 TBitmapMeans& preview) {
        RecordingConverter c;
        bool seen = false;
        c.RecordHook([&](THookInfo* info) {
            if (!seen) hook = Measure(*info->Bitmap);
            seen = true;
            info->Update = false;
        });
        bool previewed = false;
        c.Converter.OnPreviewBitmap = [&](TCustomFFmpegVCL*, const TPreviewInfo& info) {
            if (!previewed) preview = Measure(*info.Bitmap);
            previewed = true;
        };
        c.Converter.SetPreviewBitmap(true);
        ASSERT_EQ(c.Add(source, Dir.file(output), "vcodec=mpeg4\nqscale=2", true), 0);
        ASSERT_TRUE(c.Run());
        EXPECT_TRUE(c.TaskEnd(0).Finished) << c.TaskEnd(0).ExceptionMsg;
        EXPECT_TRUE(seen && previewed);
    }

    // The first preview of converting `source` with the given options, no
    // hook on: the pictures go to the encoder as decoded.
    TBitmapMeans PreviewOf(const std::string& source, const std::string& output,
                           const std::string& lines) {
        RecordingConverter c;
        TBitmapMeans preview;
        bool previewed = false;
        c.Converter.OnPreviewBitmap = [&](TCustomFFmpegVCL*, const TPreviewInfo& info) {
            if (!previewed) preview = Measure(*info.Bitmap);
            previewed = true;
        };
        c.Converter.SetPreviewBitmap(true);
        EXPECT_EQ(c.Add(source, Dir.file(output), lines), 0);
        EXPECT_TRUE(c.Run());
        EXPECT_TRUE(c.TaskEnd(0).Finished) << c.TaskEnd(0).ExceptionMsg;
        EXPECT_TRUE(previewed);
        return preview;
    }

    // A BT.709 picture and its PQ twin, the same light at the reference
    // white, both lossless.
    void MakeTwins(std::string& sdr, std::string& pq) {
        sdr = Dir.file("sdr.mkv");
        pq = Dir.file("pq.mkv");
        ASSERT_TRUE(testsupport::MakeMedia(
            sdr, "-f lavfi -i testsrc2=size=320x180:rate=25 -t 0.2 -vf "
                 "scale=out_color_matrix=bt709:out_range=tv,format=yuv420p -color_primaries bt709 "
                 "-color_trc bt709 -colorspace bt709 -c:v ffv1"));
        ASSERT_TRUE(testsupport::RunFfmpeg(
            "-i " + testsupport::ShellQuote(sdr) +
            " -vf zscale=tin=709:pin=709:min=709:rin=tv:p=2020:m=2020_ncl:r=tv:npl=203:"
            "t=smpte2084,format=yuv420p10le -color_primaries bt2020 -color_trc smpte2084 "
            "-colorspace bt2020nc -c:v ffv1 " +
            testsupport::ShellQuote(pq)));
    }

    testsupport::TempDir Dir;
};

} // namespace

TEST_F(HookPictureColour, HlgSourceGivesTheHookAndPreviewItsSdrPicture) {
    const std::string sdr = Dir.file("sdr.mkv"), hlg = Dir.file("hlg.mkv");
    ASSERT_TRUE(testsupport::MakeMedia(
        sdr, "-f lavfi -i testsrc2=size=320x180:rate=25 -t 0.2 -vf "
             "scale=out_color_matrix=bt709:out_range=tv,format=yuv420p -color_primaries bt709 "
             "-color_trc bt709 -colorspace bt709 -c:v ffv1"));
    ASSERT_TRUE(testsupport::RunFfmpeg(
        "-i " + testsupport::ShellQuote(sdr) +
        " -vf zscale=tin=709:pin=709:min=709:rin=tv:p=2020:m=2020_ncl:r=tv:npl=203:"
        "t=arib-std-b67,format=yuv420p10le -color_primaries bt2020 -color_trc arib-std-b67 "
        "-colorspace bt2020nc -c:v ffv1 " +
        testsupport::ShellQuote(hlg)));
    TBitmapMeans sdrHook, sdrPreview, hlgHook, hlgPreview;
    Convert(sdr, "sdr.avi", sdrHook, sdrPreview);
    Convert(hlg, "hlg.avi", hlgHook, hlgPreview);
    ExpectClose(hlgHook, sdrHook, "hook picture");
    ExpectClose(hlgPreview, sdrPreview, "preview");
}

TEST_F(HookPictureColour, HdPictureKeepsItsColoursThroughAHookThatChangesNothing) {
    // The bitmap goes back into the picture with the matrix it came out
    // with: an untouched bitmap gives the source's colours (within the
    // rounding of 8-bit RGB), in lossless video.
    const std::string source = Dir.file("bars.mkv"), output = Dir.file("bars.avi");
    ASSERT_TRUE(testsupport::MakeMedia(
        source, "-f lavfi -i smptehdbars=size=1280x720:rate=25 -t 0.2 -vf "
                "scale=out_color_matrix=bt709:out_range=tv,format=yuv444p -color_primaries "
                "bt709 -color_trc bt709 -colorspace bt709 -c:v ffv1"));
    RecordingConverter c;
    c.RecordHook([](THookInfo* info) { info->Update = true; });
    ASSERT_EQ(c.Add(source, output, "vcodec=ffv1\npix_fmt=yuv444p", true), 0);
    ASSERT_TRUE(c.Run());
    ASSERT_TRUE(c.TaskEnd(0).Finished) << c.TaskEnd(0).ExceptionMsg;
    EXPECT_GT(c.HookCalls, 0);
    const auto r = testsupport::RunCommand(
        "ffmpeg -hide_banner -i " + testsupport::ShellQuote(output) + " -i " +
        testsupport::ShellQuote(source) +
        " -lavfi psnr -f null - 2>&1 | grep -o 'average:[0-9.inf]*' | cut -d: -f2");
    const double psnr = r.output.rfind("inf", 0) == 0 ? 100.0 : std::atof(r.output.c_str());
    EXPECT_GT(psnr, 40.0) << r.output;
}

TEST_F(HookPictureColour, KeptHdrIsPreviewedAsItsSdrPictureAndWrittenAsHdr) {
    // With HDR kept the encoder gets the PQ pictures; the preview shows
    // them tone-mapped (not the PQ values seen as SDR, dull and pale),
    // while the file keeps them as they were.
    std::string sdr, pq;
    MakeTwins(sdr, pq);
    const std::string lines = "vcodec=libx265\nkeep_hdr=1\nx265-params=log-level=error";
    const TBitmapMeans sdrPreview = PreviewOf(sdr, "sdr-kept.mkv", lines);
    ExpectClose(PreviewOf(pq, "pq-kept.mkv", lines), sdrPreview, "preview of kept HDR");
    // The same from 10-bit HEVC, as cameras and phones write it.
    const std::string hevc = Dir.file("pq-hevc.mp4");
    ASSERT_TRUE(testsupport::RunFfmpeg(
        "-i " + testsupport::ShellQuote(pq) +
        " -c:v libx265 -x265-params log-level=error -pix_fmt yuv420p10le -color_primaries bt2020 "
        "-color_trc smpte2084 -colorspace bt2020nc " +
        testsupport::ShellQuote(hevc)));
    ExpectClose(PreviewOf(hevc, "hevc-kept.mkv", lines), sdrPreview, "preview of kept HEVC HDR");
    const std::string out = Dir.file("pq-kept.mkv");
    EXPECT_EQ(testsupport::ProbeValue(out, "stream=color_transfer", "v:0"), "smpte2084");
    EXPECT_EQ(testsupport::ProbeValue(out, "stream=pix_fmt", "v:0"), "yuv420p10le");
}
