// The extensions of the files the format library reads, as the open
// dialog's first filter lists them.
#include "MediaTestSupport.h"
#include "media/DemuxerExtensions.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace {

bool Has(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

TEST(DemuxerExtensions, ListsMediaDemuxersAndTheUsualNamesOfThoseWithoutAList) {
    const std::vector<std::string> extensions = MediaExtensionsOf({
        {"matroska,webm", "Matroska / WebM", "mkv,MKA,webm"},
        {"mpegts", "MPEG-TS (MPEG-2 Transport Stream)", ""},
        {"ogg", "Ogg", "ogg"},
        {"srt", "SubRip subtitle", "srt"},
        {"scc", "Scenarist Closed Captions", "scc"},
        {"tty", "Tele-typewriter", "ans,txt,nfo"},
        {"jpeg_pipe", "piped jpeg sequence", "jpg"},
        {"weird", "Some demuxer", ",,xyz,"},
        {"unknown", "Demuxer without a list", ""},
    });
    const std::vector<std::string> expected = {"m2t", "m2ts", "mka", "mkv",  "mts",  "oga",
                                               "ogg", "ogm",  "ogv", "ogx",  "opus", "spx",
                                               "tp",  "trp",  "ts",  "webm", "xyz"};
    EXPECT_EQ(extensions, expected);
}

TEST(DemuxerExtensions, TheLoadedLibraryReadsTheUsualVideoAndAudioFiles) {
    ASSERT_TRUE(LoadSystemLibraries());
    const std::vector<std::string> extensions = ReadableMediaExtensions();
    for (const char* media : {"webm", "mts", "m2ts", "opus", "m4b", "mka", "mkv", "mp4", "mov",
                              "avi", "wav", "mp3", "flac", "mpg", "vob", "wmv", "flv", "3gp"})
        EXPECT_TRUE(Has(extensions, media)) << media;
    for (const char* notMedia : {"srt", "vtt", "ass", "sub", "txt", "nfo", "idx"})
        EXPECT_FALSE(Has(extensions, notMedia)) << notMedia;
    EXPECT_TRUE(std::is_sorted(extensions.begin(), extensions.end()));
    EXPECT_EQ(std::adjacent_find(extensions.begin(), extensions.end()), extensions.end());
}

} // namespace
