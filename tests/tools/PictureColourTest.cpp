// The pictures of today's phone and camera files converted as the window
// converts them (vantrel-convert --format): 10-bit and 4:2:2 sources give
// the 8-bit 4:2:0 pictures players decode, H.264 files carry a level their
// pictures keep, and HDR sources (HLG, PQ) come out as SDR BT.709 with the
// brightness and colour of the picture they were made from, in the files
// and in the player's pictures.
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string Q(const std::string& text) {
    return testsupport::ShellQuote(text);
}

// A home and settings folder of the test's own.
class FormatHome {
public:
    // `edits`: the format form's edit options, already quoted.
    testsupport::CommandResult Convert(const std::string& code, const std::string& source,
                                       const std::string& folder, const std::string& edits = "") {
        return testsupport::RunCommand("HOME=" + Q(dir_.file("home")) +
                                       " XDG_CONFIG_HOME=" + Q(dir_.file("cfg")) + " " +
                                       Q(VANTREL_CONVERT) + " --format " + code + " --output-dir " +
                                       Q(folder) + " " + edits + " " + Q(source));
    }
    // Sets one value of a format's section of the settings file, which a
    // first run has written.
    void SetFormatValue(const std::string& code, const std::string& key, const std::string& value) {
        const std::string file = dir_.file("cfg") + "/vantrel/vantrel.ini";
        if (!std::ifstream(file)) Convert(code, "/nonexistent", dir_.file("unused"));
        std::ifstream in(file);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        in.close();
        const std::string section = "[formatInfo" + code + "]";
        bool inside = false, done = false;
        for (std::size_t i = 0; i < lines.size() && !done; ++i) {
            if (!lines[i].empty() && lines[i][0] == '[') inside = lines[i] == section;
            if (inside && lines[i].rfind(key + "=", 0) == 0) {
                lines[i] = key + "=" + value;
                done = true;
            }
        }
        ASSERT_TRUE(done) << key << " not in " << section << " of " << file;
        std::ofstream out(file, std::ios::trunc);
        for (const std::string& line : lines)
            out << line << '\n';
    }
    std::string File(const std::string& name) const { return dir_.file(name); }

private:
    testsupport::TempDir dir_;
};

// The one file a conversion wrote into the folder.
std::string OnlyFile(const std::string& folder) {
    std::vector<std::string> files;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec))
        files.push_back(entry.path().string());
    return files.size() == 1 ? files[0] : std::string();
}

const char* const kVideoFormats[] = {"0",   "1",   "2",   "100", "101", "102", "103",
                                     "104", "105", "106", "107", "108", "109"};

} // namespace

TEST(PictureFormat, TenBitAndFourTwoTwoSourcesGiveEightBitFourTwoZero) {
    testsupport::TempDir dir;
    const std::string hevc = dir.file("hevc10.mp4");
    ASSERT_TRUE(testsupport::MakeMedia(
        hevc, "-f lavfi -i testsrc2=size=320x240:rate=25 -f lavfi -i sine=sample_rate=48000 -t 0.5 "
              "-pix_fmt yuv420p10le -c:v libx265 -x265-params log-level=error -c:a aac"));
    const std::string prores = dir.file("prores422.mov");
    ASSERT_TRUE(testsupport::MakeMedia(
        prores, "-f lavfi -i testsrc2=size=320x240:rate=25 -f lavfi -i sine=sample_rate=48000 -t "
                "0.5 -pix_fmt yuv422p10le -c:v prores_ks -profile:v 2 -c:a pcm_s16le"));
    ASSERT_EQ(testsupport::ProbeValue(prores, "stream=pix_fmt", "v:0"), "yuv422p10le");
    FormatHome home;
    for (const std::string& source : {hevc, prores}) {
        for (const char* code : kVideoFormats) {
            SCOPED_TRACE(source + " into format " + code);
            const std::string folder = home.File(std::string("out") + code + "-" +
                                                 std::filesystem::path(source).stem().string());
            const auto r = home.Convert(code, source, folder);
            ASSERT_EQ(r.exitCode, 0) << r.output;
            const std::string out = OnlyFile(folder);
            // DV writes its norm's own: 4:1:1 for NTSC, 4:2:0 for PAL.
            const std::string expected = std::string(code) == "108" ? "yuv411p" : "yuv420p";
            EXPECT_EQ(testsupport::ProbeValue(out, "stream=pix_fmt", "v:0"), expected);
        }
    }
}

TEST(PictureFormat, HdSizedH264KeepsItsLevelAndBitRate) {
    testsupport::TempDir dir;
    const std::string source = dir.file("hd.mp4");
    ASSERT_TRUE(testsupport::MakeMedia(source, "-f lavfi -i testsrc2=size=640x360:rate=30 -t 0.5 "
                                               "-c:v libx264 -preset ultrafast"));
    struct Case {
        const char* Size;
        int MinLevel;
    };
    for (const Case& c : {Case{"1280x720", 31}, Case{"1920x1080", 40}}) {
        SCOPED_TRACE(c.Size);
        FormatHome home;
        home.SetFormatValue("103", "paraVideoSize", c.Size);
        home.SetFormatValue("103", "paraFrameRate", "30");
        home.SetFormatValue("103", "paraVideoBitRate", "2500");
        const std::string folder = home.File("out");
        const auto r = home.Convert("103", source, folder);
        ASSERT_EQ(r.exitCode, 0) << r.output;
        EXPECT_EQ(r.output.find("max bitrate less than average bitrate"), std::string::npos)
            << r.output;
        EXPECT_EQ(r.output.find("level limit"), std::string::npos) << r.output;
        const std::string out = OnlyFile(folder);
        EXPECT_EQ(testsupport::ProbeValue(out, "stream=width", "v:0") + "x" +
                      testsupport::ProbeValue(out, "stream=height", "v:0"),
                  c.Size);
        EXPECT_GE(std::atoi(testsupport::ProbeValue(out, "stream=level", "v:0").c_str()),
                  c.MinLevel);
        // The encoder writes its settings into the stream: the ceiling is
        // the chosen rate, not the preset's 1500 kbit/s.
        std::ifstream file(out, std::ios::binary);
        const std::string bytes(std::istreambuf_iterator<char>(file), {});
        EXPECT_NE(bytes.find("vbv_maxrate=2500"), std::string::npos);
    }
}

namespace {

// Mean luma and mean saturation over every picture of a file (ffmpeg's
// signalstats, in 8-bit steps).
struct TPictureStats {
    double Luma = -1, Saturation = -1;
};

TPictureStats MeasurePictures(const std::string& file) {
    const auto r = testsupport::RunCommand(
        "ffmpeg -hide_banner -nostdin -i " + Q(file) +
        " -vf format=yuv420p,signalstats,metadata=print:file=- -f null - 2>/dev/null");
    TPictureStats stats;
    double luma = 0, saturation = 0;
    int count = 0;
    std::istringstream lines(r.output);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = line.substr(0, eq);
        if (key == "lavfi.signalstats.YAVG") {
            luma += std::strtod(line.c_str() + eq + 1, nullptr);
            ++count;
        } else if (key == "lavfi.signalstats.SATAVG") {
            saturation += std::strtod(line.c_str() + eq + 1, nullptr);
        }
    }
    if (count > 0) stats = {luma / count, saturation / count};
    return stats;
}

void ExpectClose(const TPictureStats& got, const TPictureStats& want, const std::string& what) {
    ASSERT_GT(want.Luma, 0) << what;
    EXPECT_NEAR(got.Luma, want.Luma, 0.15 * want.Luma) << what << ": mean luma";
    EXPECT_NEAR(got.Saturation, want.Saturation, 0.15 * want.Saturation)
        << what << ": mean saturation";
}

class PictureColour : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Dir = new testsupport::TempDir;
        // A known SDR picture, BT.709, and HDR versions of it: the SDR
        // range placed at the HDR reference white (203 cd/m²).
        Sdr = Dir->file("sdr.mkv");
        ASSERT_TRUE(testsupport::MakeMedia(
            Sdr, "-f lavfi -i testsrc2=size=320x180:rate=25 -t 1 -vf "
                 "scale=out_color_matrix=bt709:out_range=tv,format=yuv420p -color_primaries "
                 "bt709 -color_trc bt709 -colorspace bt709 -c:v ffv1"));
        const std::string toHdr = "zscale=tin=709:pin=709:min=709:rin=tv:p=2020:m=2020_ncl:r=tv:"
                                  "npl=203:t=";
        // HLG as phones write it: HEVC 10-bit, tagged in the bitstream.
        Hlg = Dir->file("hlg.mp4");
        ASSERT_TRUE(testsupport::RunFfmpeg(
            "-i " + Q(Sdr) + " -vf " + toHdr +
            "arib-std-b67,format=yuv420p10le -c:v libx265 -x265-params "
            "log-level=error:colorprim=bt2020:transfer=arib-std-b67:colormatrix=bt2020nc "
            "-color_primaries bt2020 -color_trc arib-std-b67 -colorspace bt2020nc -tag:v hvc1 " +
            Q(Hlg)));
        // PQ tagged by its container only.
        Pq = Dir->file("pq.mkv");
        ASSERT_TRUE(testsupport::RunFfmpeg("-i " + Q(Sdr) + " -vf " + toHdr +
                                           "smpte2084,format=yuv420p10le -color_primaries bt2020 "
                                           "-color_trc smpte2084 -colorspace bt2020nc -c:v ffv1 " +
                                           Q(Pq)));
    }
    static void TearDownTestSuite() { delete Dir; }

    // PQ that names its transfer only: the primaries and matrix are BT.2020's.
    static std::string PqTransferOnly() {
        const std::string file = Dir->file("pq-transfer-only.mkv");
        EXPECT_TRUE(testsupport::RunFfmpeg(
            "-i " + Q(Pq) + " -c copy -color_primaries unknown -colorspace unknown " + Q(file)));
        return file;
    }

    // Converts the source into the format at the source's own size, so that
    // no bars change the picture's means.
    static std::string ConvertAsSource(FormatHome& home, const std::string& code,
                                       const std::string& source, const std::string& folder,
                                       const std::string& edits = "") {
        home.SetFormatValue(code, "paraVideoSize", "as source");
        const auto r = home.Convert(code, source, folder, edits);
        EXPECT_EQ(r.exitCode, 0) << r.output;
        return OnlyFile(folder);
    }

    static testsupport::TempDir* Dir;
    static std::string Sdr, Hlg, Pq;
};
testsupport::TempDir* PictureColour::Dir = nullptr;
std::string PictureColour::Sdr, PictureColour::Hlg, PictureColour::Pq;

} // namespace

TEST_F(PictureColour, HdrSourcesComeOutAsTheirSdrPicture) {
    const TPictureStats original = MeasurePictures(Sdr);
    FormatHome home;
    struct Case {
        const char* Code;
        const std::string* Source;
    };
    const std::string untagged = PqTransferOnly();
    EXPECT_EQ(testsupport::ProbeValue(untagged, "stream=color_space", "v:0"), "unknown");
    for (const Case& c :
         {Case{"103", &Hlg}, Case{"103", &Pq}, Case{"104", &Hlg}, Case{"102", &untagged}}) {
        const std::string what = *c.Source + " into format " + c.Code;
        SCOPED_TRACE(what);
        const std::string out =
            ConvertAsSource(home, c.Code, *c.Source,
                            home.File(std::string("out") + c.Code +
                                      std::filesystem::path(*c.Source).stem().string()));
        ExpectClose(MeasurePictures(out), original, what);
        if (std::string(c.Code) == "103") {
            EXPECT_EQ(testsupport::ProbeValue(out, "stream=color_primaries", "v:0"), "bt709");
            EXPECT_EQ(testsupport::ProbeValue(out, "stream=color_transfer", "v:0"), "bt709");
            EXPECT_EQ(testsupport::ProbeValue(out, "stream=color_space", "v:0"), "bt709");
        }
    }
}

TEST_F(PictureColour, HdrIntoEveryVideoFormatLooksLikeItsSdrTwin) {
    // Each format at its own frame (bars included): the HLG clip and the
    // SDR picture it was made from go the same way.
    FormatHome home;
    for (const char* code : kVideoFormats) {
        SCOPED_TRACE(std::string("format ") + code);
        const std::string sdr = home.File(std::string("sdr") + code);
        const std::string hlg = home.File(std::string("hlg") + code);
        ASSERT_EQ(home.Convert(code, Sdr, sdr).exitCode, 0);
        const auto r = home.Convert(code, Hlg, hlg);
        ASSERT_EQ(r.exitCode, 0) << r.output;
        ExpectClose(MeasurePictures(OnlyFile(hlg)), MeasurePictures(OnlyFile(sdr)),
                    std::string("HLG into format ") + code);
    }
}

TEST_F(PictureColour, SdrSourcesPassUntouched) {
    FormatHome home;
    const std::string out = ConvertAsSource(home, "103", Sdr, home.File("out"));
    const TPictureStats original = MeasurePictures(Sdr), converted = MeasurePictures(out);
    EXPECT_NEAR(converted.Luma, original.Luma, 0.02 * original.Luma);
    EXPECT_NEAR(converted.Saturation, original.Saturation, 0.03 * original.Saturation);
}

TEST_F(PictureColour, PlayerShowsHdrPicturesAsTheirSdrPicture) {
    auto snapshot = [](const std::string& source, const std::string& picture) {
        const auto r = testsupport::RunCommand("SDL_AUDIODRIVER=dummy " + Q(VANTREL_PLAY) +
                                               " --snapshot " + Q(picture) + " " + Q(source));
        EXPECT_EQ(r.exitCode, 0) << r.output;
        return MeasurePictures(picture);
    };
    const TPictureStats sdr = snapshot(Sdr, Dir->file("sdr.bmp"));
    ExpectClose(snapshot(Hlg, Dir->file("hlg.bmp")), sdr, "player snapshot of HLG");
    ExpectClose(snapshot(Pq, Dir->file("pq.bmp")), sdr, "player snapshot of PQ");
}

namespace {

// A file's first picture in 8-bit 4:2:0.
struct TFirstPicture {
    int Width = 0, Height = 0;
    std::vector<unsigned char> Bytes;
    int Luma(int x, int y) const { return Bytes[std::size_t(y) * Width + x]; }
    int Blue(int x, int y) const {
        return Bytes[std::size_t(Width) * Height + std::size_t(y / 2) * (Width / 2) + x / 2];
    }
};

TFirstPicture FirstPicture(const std::string& file, const std::string& raw) {
    TFirstPicture picture{320, 180, {}};
    if (!testsupport::RunFfmpeg("-i " + Q(file) + " -frames:v 1 -pix_fmt yuv420p -f rawvideo " +
                                Q(raw)))
        return picture;
    std::ifstream in(raw, std::ios::binary);
    picture.Bytes.assign(std::istreambuf_iterator<char>(in), {});
    return picture;
}

} // namespace

TEST_F(PictureColour, TextDrawnOnHdrSourceKeepsItsColour) {
    // An opaque text (blue, the layer's own colour) on the HLG clip and on
    // its SDR twin: the hook draws on the SDR picture, tone-mapped once.
    FormatHome home;
    const std::string text = "--text " + Q("HHHHHHHHHH@20,20,255");
    const std::string sdr = ConvertAsSource(home, "104", Sdr, home.File("sdr"));
    const std::string sdrText = ConvertAsSource(home, "104", Sdr, home.File("sdrText"), text);
    const std::string hlgText = ConvertAsSource(home, "104", Hlg, home.File("hlgText"), text);
    ExpectClose(MeasurePictures(hlgText), MeasurePictures(sdrText), "HLG with text");
    const TFirstPicture plain = FirstPicture(sdr, home.File("sdr.yuv"));
    const TFirstPicture sdrPicture = FirstPicture(sdrText, home.File("sdrText.yuv"));
    const TFirstPicture hlgPicture = FirstPicture(hlgText, home.File("hlgText.yuv"));
    const std::size_t size = 320u * 180u * 3u / 2u;
    ASSERT_EQ(plain.Bytes.size(), size);
    ASSERT_EQ(sdrPicture.Bytes.size(), size);
    ASSERT_EQ(hlgPicture.Bytes.size(), size);
    // The text's pixels: where the text changed the SDR picture much.
    double sdrLuma = 0, hlgLuma = 0, sdrBlue = 0, hlgBlue = 0;
    int count = 0;
    for (int y = 0; y < 180; ++y)
        for (int x = 0; x < 320; ++x) {
            if (std::abs(sdrPicture.Luma(x, y) - plain.Luma(x, y)) < 60) continue;
            sdrLuma += sdrPicture.Luma(x, y);
            hlgLuma += hlgPicture.Luma(x, y);
            sdrBlue += sdrPicture.Blue(x, y);
            hlgBlue += hlgPicture.Blue(x, y);
            ++count;
        }
    ASSERT_GT(count, 50) << "the text is not in the picture";
    EXPECT_NEAR(hlgLuma / count, sdrLuma / count, 8.0) << "the text's luma on the HLG picture";
    EXPECT_NEAR(hlgBlue / count, sdrBlue / count, 8.0) << "the text's blue on the HLG picture";
}

namespace {

// A picture's bytes as 24-bit BGR (ffmpeg's conversion, with `filters`).
std::vector<unsigned char> BgrBytes(const std::string& file, const std::string& filters,
                                    const std::string& raw) {
    if (!testsupport::RunFfmpeg("-i " + Q(file) + " -frames:v 1 -vf " + filters +
                                "format=bgr24 -f rawvideo " + Q(raw)))
        return {};
    std::ifstream in(raw, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

double MeanDifference(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b) {
    if (a.empty() || a.size() != b.size()) return 255.0;
    double sum = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        sum += std::abs(int(a[i]) - int(b[i]));
    return sum / double(a.size());
}

} // namespace

TEST(PictureMatrix, PlayerSnapshotConvertsWithThePictureMatrix) {
    // Colour bars in 4:4:4 (no chroma to interpolate): the snapshot's RGB
    // must be ffmpeg's conversion with the matrix the picture was coded
    // with, BT.709 for HD tagged or untagged, BT.601 for untagged SD.
    testsupport::TempDir dir;
    struct Case {
        const char* Name;
        const char* Size;
        const char* Tags;
        const char* Matrix;
    };
    for (const Case& c :
         {Case{"hd709", "1280x720", "-color_primaries bt709 -color_trc bt709 -colorspace bt709",
               "bt709"},
          Case{"hd", "1280x720", "", "bt709"}, Case{"sd", "640x480", "", "bt601"}}) {
        SCOPED_TRACE(c.Name);
        const std::string source = dir.file(std::string(c.Name) + ".mkv");
        ASSERT_TRUE(testsupport::MakeMedia(
            source, std::string("-f lavfi -i smptehdbars=size=") + c.Size +
                        ":rate=25 -t 0.2 -vf scale=out_color_matrix=" + c.Matrix +
                        ":out_range=tv,format=yuv444p " + c.Tags + " -c:v ffv1"));
        const std::string snapshot = dir.file(std::string(c.Name) + ".bmp");
        const auto r = testsupport::RunCommand("SDL_AUDIODRIVER=dummy " + Q(VANTREL_PLAY) +
                                               " --snapshot " + Q(snapshot) + " " + Q(source));
        ASSERT_EQ(r.exitCode, 0) << r.output;
        const auto got = BgrBytes(snapshot, "", dir.file(std::string(c.Name) + "-got.raw"));
        const auto want =
            BgrBytes(source, std::string("scale=in_color_matrix=") + c.Matrix + ":in_range=tv,",
                     dir.file(std::string(c.Name) + "-want.raw"));
        EXPECT_LT(MeanDifference(got, want), 1.5);
    }
}

TEST_F(PictureColour, PqHighlightsAreRolledOffNotClipped) {
    // Grey patches at the reference white (203 cd/m²), 500 and 1000 cd/m²:
    // the curve keeps them apart, brightest last, with the content's peak
    // at SDR white; a clipping curve would make all three white.
    const std::string source = Dir->file("pq-patches.mkv");
    ASSERT_TRUE(testsupport::MakeMedia(
        source, "-f lavfi -i color=black:size=96x32:rate=25 -t 0.2 -vf "
                "format=yuv420p10le,geq=lum='if(lt(X\\,32)\\,573\\,if(lt(X\\,64)\\,656\\,723))':"
                "cb=512:cr=512 -color_primaries bt2020 -color_trc smpte2084 -colorspace bt2020nc "
                "-color_range tv -c:v ffv1"));
    FormatHome home;
    const std::string out = ConvertAsSource(home, "103", source, home.File("out"));
    const auto r = testsupport::RunCommand("ffmpeg -v error -i " + Q(out) +
                                           " -frames:v 1 -pix_fmt gray -f rawvideo - | od -An -tu1 "
                                           "-v -w96 | sed -n 16p");
    std::istringstream row(r.output);
    std::vector<int> luma{std::istream_iterator<int>(row), {}};
    ASSERT_EQ(luma.size(), 96u) << r.output;
    // In full-range grey: SDR white is 255.
    const int white = luma[16], bright = luma[48], peak = luma[80];
    EXPECT_LT(white, bright - 4);
    EXPECT_LT(bright, peak);
    EXPECT_GE(peak, 250);
}

namespace {

// The mean luma of a first picture's box, the file read with its own tags
// (or with `given`, zscale's input options, for an untagged file) into PQ
// (8-bit limited steps) with SDR white at the reference white (203 cd/m²):
// the same light gives the same value in SDR and HDR files.
double LightInPq(const std::string& file, int x, int y, int w, int h,
                 const std::string& given = "") {
    const auto r = testsupport::RunCommand(
        "ffmpeg -hide_banner -nostdin -i " + Q(file) + " -frames:v 1 -vf zscale=" + given +
        "t=smpte2084:p=2020:m=2020_ncl:r=tv:npl=203,format=yuv420p,crop=" + std::to_string(w) +
        ":" + std::to_string(h) + ":" + std::to_string(x) + ":" + std::to_string(y) +
        ",signalstats,metadata=print:file=- -f null - 2>/dev/null");
    const std::string key = "lavfi.signalstats.YAVG=";
    const std::size_t at = r.output.find(key);
    return at == std::string::npos ? -1 : std::strtod(r.output.c_str() + at + key.size(), nullptr);
}

void ExpectSdrTags(const std::string& file) {
    EXPECT_EQ(testsupport::ProbeValue(file, "stream=color_primaries", "v:0"), "bt709");
    EXPECT_EQ(testsupport::ProbeValue(file, "stream=color_transfer", "v:0"), "bt709");
    EXPECT_EQ(testsupport::ProbeValue(file, "stream=color_space", "v:0"), "bt709");
}

} // namespace

TEST_F(PictureColour, EditsOnAKeptHdrSourceGiveItsSdrPicture) {
    // The modern formats keep a 10-bit PQ source's HDR, but effects and
    // layers edit SDR pictures: with them the output is the SDR twin's
    // edited picture, tagged BT.709, a white layer as bright as SDR white
    // (not at the peak of PQ), and the log says why HDR was not kept.
    FormatHome home;
    const std::string white = home.File("white.png");
    ASSERT_TRUE(
        testsupport::RunFfmpeg("-f lavfi -i color=white:size=48x24 -frames:v 1 " + Q(white)));
    const std::string layer = "--image " + Q(white + "@120,60,255");
    for (const std::string code : {"300", "301"}) {
        SCOPED_TRACE("format " + code);
        const std::string kept = ConvertAsSource(home, code, Pq, home.File("kept" + code));
        EXPECT_EQ(testsupport::ProbeValue(kept, "stream=color_transfer", "v:0"), "smpte2084");
        const std::string sdr = ConvertAsSource(home, code, Sdr, home.File("sdr" + code), layer);
        const std::string folder = home.File("pq" + code);
        const auto r = home.Convert(code, Pq, folder, layer);
        ASSERT_EQ(r.exitCode, 0) << r.output;
        EXPECT_NE(r.output.find("HDR is not kept because the pictures are edited"),
                  std::string::npos)
            << r.output;
        const std::string edited = OnlyFile(folder);
        ExpectSdrTags(edited);
        ExpectClose(MeasurePictures(edited), MeasurePictures(sdr), "PQ with a layer");
        const double layerLight = LightInPq(edited, 124, 64, 40, 16);
        // The SDR twin's output is untagged: it is read as what it is.
        EXPECT_NEAR(layerLight, LightInPq(sdr, 124, 64, 40, 16, "tin=709:pin=709:min=709:"), 6.0);
        EXPECT_LT(layerLight, 180.0) << "the layer is brighter than SDR white";
    }
    // An effect alone does the same.
    const std::string brighter = "--brightness 300";
    const std::string sdr = ConvertAsSource(home, "300", Sdr, home.File("sdrEffect"), brighter);
    const std::string edited = ConvertAsSource(home, "300", Pq, home.File("pqEffect"), brighter);
    ExpectSdrTags(edited);
    ExpectClose(MeasurePictures(edited), MeasurePictures(sdr), "PQ with an effect");
}
