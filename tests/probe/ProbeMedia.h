// Media files made once for the probe tests (lavfi sources, small and short).
#pragma once

#include "media/FFmpegLoader.h"
#include "probe/AVProbe.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>

struct ProbeMedia {
    std::unique_ptr<testsupport::TempDir> Dir;
    std::string AudioVideo; // avi: mpeg4 160x120 25 fps + mp2 mono, title "Hello"
    std::string AudioOnly;  // wav: pcm 22050 Hz stereo
    std::string VideoOnly;  // mp4: mpeg4 176x144 25 fps
    std::string Program;    // mpeg program stream: mpeg2video 29.97 fps + mp2
    std::string Transport;  // mpeg-ts: one program, audio language "fra"
    std::string Tagged;     // mkv: format tag "TIT2", video language "eng"
    std::string Accented;   // the avi under a name with accents, CJK and spaces
};

// Makes the files on first use; fails the calling test when ffmpeg fails.
const ProbeMedia& TestMedia();

// A test of one prober over the shared media; the libraries are loaded and
// the media made once for the suite.
class ProbeTestBase : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        FFmpegLoader().SetLibraryFolder("");
        ASSERT_TRUE(FFmpegLoader().LoadLibraries(ConverterLibraries))
            << FFmpegLoader().GetLastError();
        TestMedia();
    }
    TAVProbe Prober;
};
