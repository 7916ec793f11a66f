// The scan for streams that bring no packets, on files made with ffmpeg.
#include "ProbeMedia.h"
#include "probe/PacketScan.h"

#include <gtest/gtest.h>

namespace {

class PacketScan : public ProbeTestBase {
protected:
    static void SetUpTestSuite() {
        ProbeTestBase::SetUpTestSuite();
        Dir = new testsupport::TempDir;
        // A declared picture track without a frame, and one sound track
        // without a sample before a sound track that has sound.
        EmptyPicture = Dir->file("empty picture.mkv");
        ASSERT_TRUE(testsupport::MakeMedia(
            EmptyPicture, "-f lavfi -i testsrc2=size=160x120:rate=25:duration=1 -f lavfi -i "
                          "sine=duration=1 -filter_complex [0]trim=end_frame=0[v] -map [v] "
                          "-map 1 -c:v mpeg4 -c:a aac"));
        EmptyFirstSound = Dir->file("empty first sound.mkv");
        ASSERT_TRUE(testsupport::MakeMedia(
            EmptyFirstSound, "-f lavfi -i sine=duration=1 -f lavfi -i sine=duration=1 "
                             "-filter_complex [0]atrim=end_sample=0[a] -map [a] -map 1 -c:a aac"));
    }
    static void TearDownTestSuite() { delete Dir; }
    std::vector<TPackets> Scan(const std::string& file, std::int64_t budget = kPacketScanBudget) {
        EXPECT_TRUE(Prober.LoadFile(file)) << Prober.LastErrMsg();
        return ScanPackets(Prober.FormatContext(), budget);
    }
    static testsupport::TempDir* Dir;
    static std::string EmptyPicture, EmptyFirstSound;
};
testsupport::TempDir* PacketScan::Dir = nullptr;
std::string PacketScan::EmptyPicture, PacketScan::EmptyFirstSound;

using P = TPackets;

} // namespace

TEST_F(PacketScan, EveryStreamOfOrdinaryFilesSpeaks) {
    for (const std::string& file : {TestMedia().AudioVideo, TestMedia().Transport,
                                    TestMedia().AudioOnly, TestMedia().VideoOnly}) {
        SCOPED_TRACE(file);
        const std::vector<P> seen = Scan(file);
        ASSERT_EQ(seen.size(), static_cast<std::size_t>(Prober.StreamCount()));
        for (std::size_t i = 0; i < seen.size(); ++i)
            EXPECT_EQ(seen[i], P::Some) << "stream " << i;
    }
}

TEST_F(PacketScan, EmptyTracksAreFoundWhenTheWholeFileWasRead) {
    EXPECT_EQ(Scan(EmptyPicture), (std::vector<P>{P::None, P::Some}));
    EXPECT_EQ(Scan(EmptyFirstSound), (std::vector<P>{P::None, P::Some}));
    // A reading cut short by its budget cannot tell an empty track from a
    // late one.
    EXPECT_EQ(Scan(EmptyFirstSound, 100), (std::vector<P>{P::Unknown, P::Some}));
    EXPECT_TRUE(ScanPackets(nullptr).empty());
}
