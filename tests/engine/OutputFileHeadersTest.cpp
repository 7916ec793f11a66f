// The output files' tags and chapters alone, between contexts made here:
// chapters are moved by the start point and cut at the recording time;
// the first input's tags go to every output but those of the source file
// itself; a metadata map that names no file is refused.
#include "EngineTestSupport.h"
#include "engine/OutputFileHeaders.h"
#include "media/AVFormatEntries.h"
#include "media/AVUtilEntries.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

struct ContextDeleter {
    void operator()(AVFormatContext* p) const { ff::avformat.avformat_free_context(p); }
};
using ContextPtr = std::unique_ptr<AVFormatContext, ContextDeleter>;

class OutputFileHeaders : public ::testing::Test {
protected:
    void SetUp() override {
        RequireLibraries();
        Input.reset(ff::avformat.avformat_alloc_context());
        ASSERT_TRUE(Input);
        // Chapters in milliseconds: 0-2 s, 2-5 s, 5-10 s.
        for (const auto& [start, end] :
             std::vector<std::pair<int, int>>{{0, 2000}, {2000, 5000}, {5000, 10000}})
            AddChapter(start, end);
    }

    void AddChapter(int64_t start, int64_t end) {
        auto* chapter = static_cast<AVChapter*>(ff::avutil.av_mallocz(sizeof(AVChapter)));
        ASSERT_TRUE(chapter);
        chapter->id = static_cast<int64_t>(Input->nb_chapters);
        chapter->time_base = AVRational{1, 1000};
        chapter->start = start;
        chapter->end = end;
        auto* list = static_cast<AVChapter**>(
            ff::avutil.av_realloc(Input->chapters, sizeof(AVChapter*) * (Input->nb_chapters + 1)));
        ASSERT_TRUE(list);
        Input->chapters = list;
        Input->chapters[Input->nb_chapters++] = chapter;
    }

    ContextPtr Output(const char* format) {
        AVFormatContext* raw = nullptr;
        EXPECT_GE(ff::avformat.avformat_alloc_output_context2(&raw, nullptr, format, nullptr), 0);
        return ContextPtr(raw);
    }

    static std::string Tag(const AVFormatContext* context, const char* key) {
        const AVDictionaryEntry* entry = ff::avutil.av_dict_get(context->metadata, key, nullptr, 0);
        return entry ? entry->value : "";
    }

    ContextPtr Input;
};

} // namespace

TEST_F(OutputFileHeaders, ChaptersAreMovedByTheStartAndCutAtTheRecordingTime) {
    ContextPtr output = Output("matroska");
    ASSERT_TRUE(output);
    // From 3 s for 4 s: the first chapter lies before, the others are cut.
    CopyChapters({{Input.get(), 0}}, {output.get()}, 3000000, 4000000);
    ASSERT_EQ(output->nb_chapters, 2u);
    EXPECT_EQ(output->chapters[0]->start, 0);
    EXPECT_EQ(output->chapters[0]->end, 2000);
    EXPECT_EQ(output->chapters[1]->start, 2000);
    EXPECT_EQ(output->chapters[1]->end, 4000);

    // An input placed 1 s later: its chapters are 1 s later too.
    ContextPtr later = Output("matroska");
    CopyChapters({{Input.get(), 1000000}}, {later.get()}, 0, INT64_MAX);
    ASSERT_EQ(later->nb_chapters, 3u);
    EXPECT_EQ(later->chapters[1]->start, 3000);
    EXPECT_EQ(later->chapters[2]->end, 11000) << "a chapter's end is moved as its start";
}

TEST_F(OutputFileHeaders, TheFirstInputsTagsGoToEveryOutputButTheSourceFilesOwn) {
    ff::avutil.av_dict_set(&Input->metadata, "title", "Song", 0);
    ff::avutil.av_dict_set(&Input->metadata, "encoder", "someone else's", 0);
    ff::avutil.av_dict_set(&Input->metadata, "creation_time", "2020-01-02T03:04:05", 0);
    ContextPtr avi = Output("avi");
    ContextPtr mkv = Output("matroska");
    ff::avutil.av_dict_set(&mkv->metadata, "title", "Chosen", 0);
    CopyTags({}, {{Input.get(), 0}}, {avi.get(), mkv.get()});
    EXPECT_EQ(Tag(avi.get(), "title"), "Song");
    EXPECT_EQ(Tag(avi.get(), "encoder"), "");
    EXPECT_EQ(Tag(avi.get(), "date"), "2020-01-02T03:04:05") << "RIFF keeps the time as a date";
    EXPECT_EQ(Tag(mkv.get(), "title"), "Chosen") << "a tag the output already has stays";
    EXPECT_EQ(Tag(mkv.get(), "date"), "");

    TMetaDataMap map;
    map.OutFile = 0;
    map.InFile = 1;
    try {
        CopyTags({map}, {{Input.get(), 0}}, {avi.get()});
        ADD_FAILURE() << "a map from an input that is not there was taken";
    } catch (const FFmpegException& e) {
        EXPECT_EQ(std::string(e.what()), "Invalid input file index 1 map_meta_data(0,1)");
    }
}
