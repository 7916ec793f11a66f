// Texts for media values, names, and the file, text and time helpers.
#include "MediaTestSupport.h"
#include "media/AVCodecEntries.h"
#include "media/AVUtilEntries.h"
#include "media/FFUtils.h"
#include "media/TextUtils.h"
#include "media/UnicodeProtocol.h"
#include "support/TestSupport.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>

namespace {

class MediaUtils : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(LoadSystemLibraries()); }
};

TEST_F(MediaUtils, DurationToText) {
    EXPECT_EQ(DurationToText(AV_NOPTS_VALUE), "N/A");
    EXPECT_EQ(DurationToText(0), "00:00:00.000");
    EXPECT_EQ(DurationToText(3723456789LL), "01:02:03.456");
    EXPECT_EQ(DurationToText(360000000000LL), "100:00:00.000");
    EXPECT_EQ(DurationToText(59999999), "00:00:59.999");
}

// One set of text helpers serves settings files, option texts and names:
// the plain Trim takes every control character, a named set only its own.
TEST(TextUtils, TrimSetsAndCaseFolding) {
    EXPECT_EQ(Trim("\x01\t a b \x1f\n"), "a b");
    EXPECT_EQ(Trim(std::string("\0x\0", 3)), "x");
    EXPECT_EQ(Trim(" \t\r\n "), "");
    EXPECT_EQ(Trim(" \tkey\n\v", " \t\r\v\f"), "key\n");
    EXPECT_EQ(Trim("\x01 name ", " \t\r\n"), "\x01 name");
    EXPECT_EQ(Trim("   ", " "), "");
    EXPECT_EQ(Lower("MP4 \xC3\x84"), "mp4 \xC3\x84");
    EXPECT_TRUE(SameText("Matroska", "MATROSKA"));
    EXPECT_FALSE(SameText("mp4", "mp4 "));
}

TEST_F(MediaUtils, MediaErrorTextUsesTheLibrarysErrorConstants) {
    EXPECT_EQ(MediaErrorText("in.avi", -2), "in.avi: No such file or directory");
    // Codes neither the table nor the system knows.
    EXPECT_EQ(MediaErrorText("in.avi", -99999), "in.avi: Error number -99999 occurred");
    EXPECT_EQ(MediaErrorText("in.avi", 5), "in.avi: Error number 5 occurred");
    EXPECT_EQ(MediaErrorText("f", AVERROR(EIO)), "f: I/O error");
    EXPECT_EQ(MediaErrorText("f", AVERROR(ENOMEM)), "f: Not enough memory");
    EXPECT_EQ(MediaErrorText("f", AVERROR_INVALIDDATA),
              "f: Invalid data found when processing input");
    EXPECT_EQ(MediaErrorText("f", AVERROR_EOF), "f: End of file");
    EXPECT_EQ(MediaErrorText("f", AVERROR(EDOM)), "f: Number syntax expected in filename");
    EXPECT_EQ(MediaErrorText("f", AVERROR(EILSEQ)), "f: Unknown format");
    EXPECT_EQ(MediaErrorText("f", AVERROR_PROTOCOL_NOT_FOUND), "f: Unsupported network protocol");
    EXPECT_EQ(MediaErrorText("av_interleaved_write_frame()", AVERROR_PATCHWELCOME),
              "av_interleaved_write_frame(): Not yet implemented in FFmpeg");
}

// Codes the table does not list get the system's (or the libraries') text.
TEST_F(MediaUtils, MediaErrorTextFallsBackToTheSystemText) {
    EXPECT_EQ(MediaErrorText("f", AVERROR(EACCES)), "f: Permission denied");
    EXPECT_EQ(MediaErrorText("f", AVERROR(EISDIR)), "f: Is a directory");
    EXPECT_EQ(MediaErrorText("f", AVERROR(EINVAL)), "f: Invalid argument");
    EXPECT_EQ(MediaErrorText("f", AVERROR(ENOSPC)), "f: No space left on device");
    EXPECT_EQ(MediaErrorText("f", AVERROR_ENCODER_NOT_FOUND), "f: Encoder not found");
}

TEST_F(MediaUtils, SizeToTextSteps) {
    EXPECT_EQ(SizeToText(0), "0 Byte");
    EXPECT_EQ(SizeToText(1024), "1024 Byte");
    EXPECT_EQ(SizeToText(1025), "1.00 KB");
    EXPECT_EQ(SizeToText(1048576), "1024.00 KB");
    EXPECT_EQ(SizeToText(1048577), "1.00 MB");
    EXPECT_EQ(SizeToText(1073741825LL), "1.00 GB");
    EXPECT_EQ(SizeToText(5LL * 1073741824LL + 536870912LL), "5.50 GB");
    EXPECT_EQ(SizeToText(-1), "-1 Byte");
}

TEST_F(MediaUtils, MediaTypeNames) {
    EXPECT_EQ(MediaTypeName(0), "Video");
    EXPECT_EQ(MediaTypeName(1), "Audio");
    EXPECT_EQ(MediaTypeName(2), "Data");
    EXPECT_EQ(MediaTypeName(3), "Subtitle");
    EXPECT_EQ(MediaTypeName(4), "Attachment");
    EXPECT_EQ(MediaTypeName(5), "Unknown");
    EXPECT_EQ(MediaTypeName(-1), "Unknown");
}

TEST_F(MediaUtils, CodecDescriptionCases) {
    ff::CodecContextPtr context(ff::avcodec.avcodec_alloc_context3(nullptr));
    ASSERT_TRUE(context);
    context->codec_id = AV_CODEC_ID_MPEG4;
    EXPECT_EQ(CodecDescription(context.get(), false), "mpeg4(MPEG-4 part 2)");
    context->codec_id = AV_CODEC_ID_MPEG2TS;
    EXPECT_EQ(CodecDescription(context.get(), false), "mpeg2ts");
    context->codec_id = AV_CODEC_ID_NONE;
    context->codec_tag = 'X' | ('V' << 8) | ('I' << 16) | (unsigned('D') << 24);
    EXPECT_EQ(CodecDescription(context.get(), true), "XVID / 0x44495658");
    context->codec_tag = 0x12;
    EXPECT_EQ(CodecDescription(context.get(), false), "0x0012");
    context->codec_tag = 'a' | ('b' << 8) | (0x7F << 16) | (unsigned('d') << 24);
    EXPECT_EQ(CodecDescription(context.get(), false), "0x647f6261");
}

TEST_F(MediaUtils, MetadataValueWithDefault) {
    AVDictionary* raw = nullptr;
    ff::avutil.av_dict_set(&raw, "title", "A title", 0);
    ff::DictionaryPtr metadata(raw);
    EXPECT_EQ(MetadataValue(metadata.get(), "title", "x"), "A title");
    EXPECT_EQ(MetadataValue(metadata.get(), "album", "N/A"), "N/A");
    EXPECT_EQ(MetadataValue(nullptr, "title", ""), "");
}

TEST_F(MediaUtils, FetchToken) {
    std::string text = "a\nb";
    EXPECT_EQ(FetchToken(text, "\n", true), "a");
    EXPECT_EQ(text, "b");
    text = "abc";
    EXPECT_EQ(FetchToken(text, "\n", true), "abc");
    EXPECT_EQ(text, "");
    text = "key=value=x";
    EXPECT_EQ(FetchToken(text, "=", false), "key");
    EXPECT_EQ(text, "key=value=x");
    EXPECT_EQ(FetchToken(text, "=", true), "key");
    EXPECT_EQ(text, "value=x");
}

TEST_F(MediaUtils, ReadWholeFile) {
    testsupport::TempDir dir;
    std::ofstream(dir.file("empty"));
    std::uint8_t* buffer = nullptr;
    int size = -5;
    ASSERT_EQ(ReadWholeFile(dir.file("empty"), buffer, size), 0);
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(size, 1);
    EXPECT_EQ(buffer[0], 0);
    ff::avutil.av_free(buffer);

    std::ofstream(dir.file("text")) << "hello";
    ASSERT_EQ(ReadWholeFile(std::string(UnicodePrefix) + dir.file("text"), buffer, size), 0);
    EXPECT_EQ(size, 6);
    EXPECT_STREQ(reinterpret_cast<char*>(buffer), "hello");
    ff::avutil.av_free(buffer);

    EXPECT_EQ(ReadWholeFile(dir.file("missing"), buffer, size), -1);
    EXPECT_EQ(buffer, nullptr);
    EXPECT_EQ(ReadWholeFile(dir.path().string(), buffer, size), -1);
}

TEST_F(MediaUtils, FileExistenceAndSize) {
    testsupport::TempDir dir;
    std::ofstream(dir.file("data.bin")) << std::string(1234, 'x');
    std::string accented = dir.file("vidéo 東京.bin");
    std::ofstream(accented) << "12";
    EXPECT_TRUE(IsExistingFile(dir.file("data.bin")));
    EXPECT_EQ(GetFileSize64(dir.file("data.bin")), 1234);
    EXPECT_TRUE(IsExistingFile(accented));
    EXPECT_EQ(GetFileSize64(accented), 2);
    EXPECT_FALSE(IsExistingFile(dir.path().string()));
    EXPECT_EQ(GetFileSize64(dir.path().string()), -1);
    EXPECT_FALSE(IsExistingFile(dir.file("missing")));
    EXPECT_EQ(GetFileSize64(dir.file("missing")), -1);
    EXPECT_FALSE(IsExistingFile(""));
}

TEST_F(MediaUtils, LocalTimeUsesTheStandardZoneOffset) {
    const char* old = std::getenv("TZ");
    std::string saved = old ? old : "";
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    EXPECT_DOUBLE_EQ(LocalTimeZoneOffset(), 1.0 / 24);
    // 2020-07-01 12:00:00 UTC is 13:00 standard time (daylight saving left out).
    double local = UnixTimeToLocalDateTime(1593604800);
    EXPECT_EQ(DateTimeToText("yyyy-mm-dd hh:nn:ss", local), "2020-07-01 13:00:00");
    setenv("TZ", "UTC0", 1);
    EXPECT_EQ(DateTimeToText("yyyy-mm-dd hh:nn:ss", UnixTimeToLocalDateTime(0)),
              "1970-01-01 00:00:00");
    EXPECT_EQ(DateTimeToText("d/m/yy h:n:s.zzz", 25569.5 + 1.5 / 86400), "1/1/70 12:0:1.500");
    if (old)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

TEST(LibraryNames, PrefixedFormIsAcceptedAndPlainNamesPass) {
    EXPECT_EQ(ToLibraryName("/tmp/plain.avi"), "/tmp/plain.avi");
    EXPECT_EQ(ToLibraryName("/tmp/vidéo 東京.avi"), "/tmp/vidéo 東京.avi");
    EXPECT_EQ(ToLibraryName("unicode:utf8:/tmp/vidéo.avi"), "/tmp/vidéo.avi");
    EXPECT_EQ(ToLibraryName("http://host/a:b"), "http://host/a:b");
    EXPECT_EQ(ToLibraryName("udp://1.2.3.4:5"), "udp://1.2.3.4:5");
    EXPECT_EQ(FromLibraryName("unicode:utf8:/tmp/x"), "/tmp/x");
    EXPECT_EQ(FromLibraryName("unicode:utf8:"), "unicode:utf8:");
    EXPECT_EQ(FromLibraryName("unicode:utf8:a"), "a");
    EXPECT_EQ(FromLibraryName("/tmp/x"), "/tmp/x");
    EXPECT_TRUE(IsNeverWrappedName("http://x"));
    EXPECT_TRUE(IsNeverWrappedName("pipe:0"));
    EXPECT_FALSE(IsNeverWrappedName("c:/x"));
    EXPECT_FALSE(IsNeverWrappedName("HTTP://x"));
    EXPECT_FALSE(IsNeverWrappedName("/tmp/x"));
}

} // namespace
