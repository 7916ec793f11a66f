// Pictures as shown: an HDR picture gives the bitmap of its SDR twin, an SDR
// picture the bitmap it always gave, and the picture itself stays untouched.
#include "MediaTestSupport.h"
#include "support/TestSupport.h"
#include "media/AVUtilEntries.h"
#include "media/DisplayPicture.h"
#include "media/FFHandles.h"
#include "media/ToneMap.h"

#include <gtest/gtest.h>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <list>
#include <vector>

namespace {

constexpr int kWidth = 320, kHeight = 180;

class DisplayPicture : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(LoadSystemLibraries()); }
    void TearDown() override { ResetDisplayContext(Context); }

    // The first picture of testsrc2 through `filters`, raw.
    std::vector<char> RawPicture(const std::string& filters) {
        const std::string raw = Dir.file("picture.raw");
        EXPECT_TRUE(testsupport::RunFfmpeg(
            "-f lavfi -i testsrc2=size=" + std::to_string(kWidth) + "x" + std::to_string(kHeight) +
            ":rate=25 -frames:v 1 -vf " + testsupport::ShellQuote(filters) + " -f rawvideo " +
            testsupport::ShellQuote(raw)));
        std::ifstream in(raw, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }

    // That picture read back into a frame of `format` tagged with the
    // given colours; its planes are kept in Planes.
    ff::FramePtr Picture(const std::string& filters, AVPixelFormat format, int transfer,
                         int primaries, int matrix) {
        Planes.push_back(RawPicture(filters));
        ff::FramePtr frame(ff::avutil.av_frame_alloc());
        frame->format = format;
        frame->width = kWidth;
        frame->height = kHeight;
        frame->color_trc = static_cast<AVColorTransferCharacteristic>(transfer);
        frame->color_primaries = static_cast<AVColorPrimaries>(primaries);
        frame->colorspace = static_cast<AVColorSpace>(matrix);
        frame->color_range = AVCOL_RANGE_MPEG;
        EXPECT_EQ(ff::avutil.av_image_get_buffer_size(format, kWidth, kHeight, 1),
                  int(Planes.back().size()));
        ff::avutil.av_image_fill_arrays(frame->data, frame->linesize,
                                        reinterpret_cast<std::uint8_t*>(Planes.back().data()),
                                        format, kWidth, kHeight, 1);
        return frame;
    }

    ff::FramePtr Sdr() {
        return Picture("scale=out_color_matrix=bt709:out_range=tv,format=yuv420p",
                       AV_PIX_FMT_YUV420P, AVCOL_TRC_BT709, AVCOL_PRI_BT709, AVCOL_SPC_BT709);
    }

    // The BT.709 picture made HDR with the given transfer, SDR white at
    // the reference white.
    static std::string HdrFilters(const std::string& transfer) {
        return "scale=out_color_matrix=bt709:out_range=tv,format=yuv420p,zscale=tin=709:pin=709:"
               "min=709:rin=tv:p=2020:m=2020_ncl:r=tv:npl=203:t=" +
               transfer + ",format=yuv420p10le";
    }

    ff::FramePtr Hdr(const std::string& transfer, int code) {
        return Picture(HdrFilters(transfer), AV_PIX_FMT_YUV420P10LE, code, AVCOL_PRI_BT2020,
                       AVCOL_SPC_BT2020_NCL);
    }

    static std::vector<std::uint8_t> Pixels(const Bitmap24& bitmap) {
        std::vector<std::uint8_t> pixels;
        for (int y = 0; y < bitmap.Height; ++y)
            pixels.insert(pixels.end(), bitmap.Row(y), bitmap.Row(y) + bitmap.Width * 3);
        return pixels;
    }

    // The mean difference of two bitmaps' samples, in 8-bit steps.
    static double MeanDifference(const std::vector<std::uint8_t>& a,
                                 const std::vector<std::uint8_t>& b) {
        EXPECT_EQ(a.size(), b.size());
        if (a.empty() || a.size() != b.size()) return 255;
        double sum = 0;
        for (std::size_t i = 0; i < a.size(); ++i)
            sum += std::abs(int(a[i]) - int(b[i]));
        return sum / double(a.size());
    }

    // The bitmap of the HDR picture made SDR as the converter's output
    // is, by the filter program.
    std::vector<std::uint8_t> Converted(const std::string& transfer, int code) {
        TColourDescription colour{AVCOL_PRI_BT2020, code, AVCOL_SPC_BT2020_NCL, AVCOL_RANGE_MPEG};
        const std::vector<char> raw =
            RawPicture(HdrFilters(transfer) + "," + ToneMapFilterText(colour, "yuv420p") +
                       ",scale=in_color_matrix=bt709:in_range=tv,format=bgr24");
        return {raw.begin(), raw.end()};
    }

    std::vector<std::uint8_t> Shown(const AVFrame* frame) {
        EXPECT_TRUE(FrameToDisplayBitmap(Context, frame));
        return Context.Bitmap ? Pixels(*Context.Bitmap) : std::vector<std::uint8_t>{};
    }

    testsupport::TempDir Dir;
    TDisplayContext Context;
    std::list<std::vector<char>> Planes;
};

} // namespace

TEST_F(DisplayPicture, HdrPicturesShowAsTheirSdrTwinAndStayUntouched) {
    const ff::FramePtr sdr = Sdr();
    TToRGBContext plain;
    ASSERT_TRUE(FrameToBitmap(plain, sdr.get()));
    const std::vector<std::uint8_t> twin = Pixels(*plain.Bitmap);
    // One context for both, so that the second transfer needs its own graph.
    struct {
        const char* Name;
        int Code;
    } const cases[] = {{"smpte2084", AVCOL_TRC_SMPTE2084},
                       {"arib-std-b67", AVCOL_TRC_ARIB_STD_B67}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const ff::FramePtr hdr = Hdr(c.Name, c.Code);
        const std::vector<std::uint8_t> luma(hdr->data[0], hdr->data[0] + hdr->linesize[0]);
        const std::vector<std::uint8_t> shown = Shown(hdr.get());
        // The highlights are rolled off a little (white at about 235, not
        // 255): close to the twin, where the raw values are far off; the
        // picture that a conversion into SDR writes.
        EXPECT_LT(MeanDifference(shown, twin), 18.0);
        EXPECT_LT(MeanDifference(shown, Converted(c.Name, c.Code)), 1.0);
        // The picture given is not the one shown: its values are as before.
        EXPECT_TRUE(std::equal(luma.begin(), luma.end(), hdr->data[0]));
        EXPECT_EQ(hdr->format, AV_PIX_FMT_YUV420P10LE);
        EXPECT_EQ(hdr->color_trc, c.Code);
        // Seen as SDR values, the same picture is far off.
        ASSERT_TRUE(FrameToBitmap(plain, hdr.get()));
        EXPECT_GT(MeanDifference(Pixels(*plain.Bitmap), twin), 50.0);
    }
    ResetToRGBContext(plain);
}

TEST_F(DisplayPicture, SdrPicturesShowAsBeforeAlsoAfterAnHdrOne) {
    const ff::FramePtr sdr = Sdr();
    TToRGBContext plain;
    ASSERT_TRUE(FrameToBitmap(plain, sdr.get()));
    const std::vector<std::uint8_t> before = Pixels(*plain.Bitmap);
    EXPECT_EQ(Shown(sdr.get()), before);
    const ff::FramePtr pq = Hdr("smpte2084", AVCOL_TRC_SMPTE2084);
    Shown(pq.get());
    EXPECT_EQ(Shown(sdr.get()), before);
    ResetToRGBContext(plain);
}
