// The stored conversion list: every field of a row survives the round trip,
// a damaged file is set aside with a message instead of being trusted, and
// the rows of an interrupted batch come back ready to continue.
#include "core/ListStore.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

using namespace std::chrono_literals;

// A row whose every field differs from a new row's value.
TStoredRow FullRow() {
    TStoredRow row;
    row.Checked = false;
    row.Converted = true;
    row.TrimmedLength = "17";
    TlvFilesRecord& r = row.Record;
    r.SourceFile = "/media/Ferien 2024/clip=1 \\ \"zwei\"\nnext line \xC3\xA9.mp4";
    r.DestinationFile = "/out/clip_(new_3)_ipod.mp4";
    r.Duration = 2147483647;
    r.TrimStart = 9000000000000;
    r.TrimLength = -4;
    r.ZoomMode = "pan";
    r.CropTop = 2, r.CropLeft = 4, r.CropBottom = 6, r.CropRight = 8;
    r.MarginUp = -1, r.MarginLeft = 3, r.MarginDown = 5, r.MarginRight = 7;
    r.Brightness = 0, r.Contrast = -100, r.Saturation = 512, r.Exposure = -255;
    r.ProcessText = true, r.ProcessImage = true;
    TWmRec text;
    text.Text = "Hello\r\nWorld";
    text.Font = TWmFont{"DejaVu Sans", 24, fsBold | fsItalic, 0x00FF8040u};
    text.TextLeft = -10, text.TextTop = 11, text.TextWidth = 120, text.TextHeight = 30;
    text.TextAlpha = 128, text.BackColor = 0xFFFFFFFFu, text.UseBackColor = true;
    text.StartTime = 1, text.EndTime = 9;
    TWmRec image;
    image.Kind = kWmImageLayer;
    image.ImageFile = "/pics/logo.bmp";
    image.ImageLeft = 5, image.ImageTop = 6, image.ImageWidth = 64, image.ImageHeight = 48;
    image.ImageAlpha = 200, image.StartTime = 0, image.EndTime = 2;
    r.Watermarks = {text, image};
    return row;
}

void ExpectSameLayer(const TWmRec& a, const TWmRec& b) {
    EXPECT_EQ(a.Text, b.Text);
    ASSERT_EQ(a.Font.has_value(), b.Font.has_value());
    if (a.Font) {
        EXPECT_EQ(a.Font->Name, b.Font->Name);
        EXPECT_EQ(a.Font->Size, b.Font->Size);
        EXPECT_EQ(a.Font->Style, b.Font->Style);
        EXPECT_EQ(a.Font->Color, b.Font->Color);
    }
    EXPECT_EQ(a.TextLeft, b.TextLeft);
    EXPECT_EQ(a.TextTop, b.TextTop);
    EXPECT_EQ(a.TextWidth, b.TextWidth);
    EXPECT_EQ(a.TextHeight, b.TextHeight);
    EXPECT_EQ(a.TextAlpha, b.TextAlpha);
    EXPECT_EQ(a.BackColor, b.BackColor);
    EXPECT_EQ(a.UseBackColor, b.UseBackColor);
    EXPECT_EQ(a.ImageFile, b.ImageFile);
    EXPECT_EQ(a.ImageLeft, b.ImageLeft);
    EXPECT_EQ(a.ImageTop, b.ImageTop);
    EXPECT_EQ(a.ImageWidth, b.ImageWidth);
    EXPECT_EQ(a.ImageHeight, b.ImageHeight);
    EXPECT_EQ(a.ImageAlpha, b.ImageAlpha);
    EXPECT_EQ(a.Kind, b.Kind);
    EXPECT_EQ(a.StartTime, b.StartTime);
    EXPECT_EQ(a.EndTime, b.EndTime);
}

void ExpectSameRow(const TStoredRow& a, const TStoredRow& b) {
    EXPECT_EQ(a.Checked, b.Checked);
    EXPECT_EQ(a.Converted, b.Converted);
    EXPECT_EQ(a.TrimmedLength, b.TrimmedLength);
    const TlvFilesRecord &x = a.Record, &y = b.Record;
    EXPECT_EQ(x.SourceFile, y.SourceFile);
    EXPECT_EQ(x.DestinationFile, y.DestinationFile);
    EXPECT_EQ(x.Duration, y.Duration);
    EXPECT_EQ(x.TrimStart, y.TrimStart);
    EXPECT_EQ(x.TrimLength, y.TrimLength);
    EXPECT_EQ(x.ZoomMode, y.ZoomMode);
    EXPECT_EQ(x.CropTop, y.CropTop);
    EXPECT_EQ(x.CropLeft, y.CropLeft);
    EXPECT_EQ(x.CropBottom, y.CropBottom);
    EXPECT_EQ(x.CropRight, y.CropRight);
    EXPECT_EQ(x.MarginUp, y.MarginUp);
    EXPECT_EQ(x.MarginLeft, y.MarginLeft);
    EXPECT_EQ(x.MarginDown, y.MarginDown);
    EXPECT_EQ(x.MarginRight, y.MarginRight);
    EXPECT_EQ(x.Brightness, y.Brightness);
    EXPECT_EQ(x.Contrast, y.Contrast);
    EXPECT_EQ(x.Saturation, y.Saturation);
    EXPECT_EQ(x.Exposure, y.Exposure);
    EXPECT_EQ(x.ProcessText, y.ProcessText);
    EXPECT_EQ(x.ProcessImage, y.ProcessImage);
    ASSERT_EQ(x.Watermarks.size(), y.Watermarks.size());
    for (std::size_t i = 0; i < x.Watermarks.size(); ++i)
        ExpectSameLayer(x.Watermarks[i], y.Watermarks[i]);
}

void WriteAll(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

TStoredList TwoRows() {
    TStoredList list;
    list.Rows.push_back(FullRow());
    list.Rows.emplace_back();
    list.Rows.back().Record = NewFilesRecord("/m/b.wav", "/o/b_(new)_ipod.mp4", 1500000, "lbox");
    return list;
}

} // namespace

TEST(ListStoreTest, EveryFieldOfEveryRowSurvivesTheStore) {
    testsupport::TempDir dir;
    const std::string file = dir.file("config/vantrel/" + std::string(kListFileName));
    TStoredList list = TwoRows();
    list.BatchRunning = true;
    {
        TListStore store(file);
        store.Save(TStoredList{}); // replaced by the next one or written first
        store.Save(list);
        ASSERT_TRUE(store.Flush(10s));
        EXPECT_EQ(store.LastError(), "");
    }
    EXPECT_FALSE(std::filesystem::exists(file + ".tmp"));
    TListStore again(file);
    std::string problem;
    const TStoredList read = again.Load(problem);
    EXPECT_EQ(problem, "");
    EXPECT_TRUE(read.BatchRunning);
    ASSERT_EQ(read.Rows.size(), 2u);
    ExpectSameRow(read.Rows[0], list.Rows[0]);
    ExpectSameRow(read.Rows[1], list.Rows[1]);
    EXPECT_EQ(read.Rows[1].Record.Duration, 1);
    EXPECT_FALSE(read.Rows[1].Record.Watermarks.size());
}

TEST(ListStoreTest, NoFileIsAnEmptyListWithoutAMessage) {
    testsupport::TempDir dir;
    TListStore store(dir.file("list.txt"));
    std::string problem = "x";
    EXPECT_TRUE(store.Load(problem).Rows.empty());
    EXPECT_EQ(problem, "");
}

TEST(ListStoreTest, ADamagedFileIsSetAsideWithAMessage) {
    const std::string good = ListToText(TwoRows());
    const std::string damaged[] = {
        "\x01\x02garbage",
        good.substr(0, good.size() / 2), // cut short
        std::string(good).replace(good.find("Duration=2147483647"), 19, "Duration=21x"),
        std::string(good).replace(good.find("Rows=2"), 6, "Rows=3"),
        std::string(good).replace(good.find("CropTop="), 8, "CropTip="),
        std::string(good).replace(good.find("Duration=2147483647"), 19, "Duration=99999999999"),
        std::string(good).replace(good.find("HasFont=1"), 9, "HasFont=0"),
        std::string(good).replace(good.find("Layers=2"), 8, "Layers=1"),
        good + "more\n",
        std::string(good).replace(0, 1, "W"), // another version or program
    };
    for (const std::string& text : damaged) {
        testsupport::TempDir dir;
        const std::string file = dir.file("list.txt");
        WriteAll(file, text);
        TStoredList list;
        std::string error;
        EXPECT_FALSE(ListFromText(text, list, error)) << text.substr(0, 40);
        EXPECT_NE(error, "");
        TListStore store(file);
        std::string problem;
        EXPECT_TRUE(store.Load(problem).Rows.empty());
        EXPECT_NE(problem.find(file + ".corrupt"), std::string::npos) << problem;
        EXPECT_FALSE(std::filesystem::exists(file));
        EXPECT_EQ(testsupport::ReadFileText(file + ".corrupt"), text);
    }
}

TEST(ListStoreTest, ASecondDamagedFileDoesNotReplaceTheFirst) {
    testsupport::TempDir dir;
    const std::string file = dir.file("list.txt");
    TListStore store(file);
    std::string problem;
    WriteAll(file, "first");
    store.Load(problem);
    WriteAll(file, "second");
    store.Load(problem);
    EXPECT_EQ(testsupport::ReadFileText(file + ".corrupt"), "first");
    EXPECT_EQ(testsupport::ReadFileText(file + ".corrupt1"), "second");
    EXPECT_NE(problem.find(".corrupt1"), std::string::npos);
}

TEST(ListStoreTest, AnInterruptedBatchContinuesWithTheRowsNotConverted) {
    TStoredList list;
    for (int i = 0; i < 4; ++i)
        list.Rows.emplace_back();
    list.BatchRunning = true;
    list.Rows[0].Converted = true;  // done
    list.Rows[1].Converted = false; // was running or waiting
    list.Rows[2].Checked = false;   // not part of the batch
    list.Rows[3].Converted = true;  // done too
    TStoredList notRunning = list;
    notRunning.BatchRunning = false;
    ResumeInterruptedBatch(list);
    EXPECT_FALSE(list.BatchRunning);
    EXPECT_EQ(list.Rows[0].Checked, false);
    EXPECT_EQ(list.Rows[1].Checked, true);
    EXPECT_EQ(list.Rows[2].Checked, false);
    EXPECT_EQ(list.Rows[3].Checked, false);
    // After a batch that ended, the marks stay as the user left them.
    ResumeInterruptedBatch(notRunning);
    EXPECT_TRUE(notRunning.Rows[0].Checked && notRunning.Rows[3].Checked);
}

TEST(ListStoreTest, AWriteThatCannotHappenIsReportedAndKeepsTheOldFile) {
    testsupport::TempDir dir;
    const std::string file = dir.file("list.txt");
    WriteAll(file, ListToText(TwoRows()));
    std::filesystem::create_directories(file + ".tmp"); // the temporary name is taken
    {
        TListStore store(file);
        store.Save(TStoredList{});
        ASSERT_TRUE(store.Flush(10s));
        EXPECT_NE(store.LastError(), "");
    }
    TListStore store(file);
    std::string problem;
    EXPECT_EQ(store.Load(problem).Rows.size(), 2u);
}

TEST(ListStoreTest, ANormalEndRemovesTheStoredList) {
    testsupport::TempDir dir;
    const std::string file = dir.file("list.txt");
    TListStore store(file);
    store.Save(TwoRows());
    ASSERT_TRUE(store.Flush(10s));
    ASSERT_TRUE(std::filesystem::exists(file));
    store.Save(TwoRows()); // dropped: the end comes first
    store.Discard();
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_TRUE(store.Flush(10s));
    EXPECT_FALSE(std::filesystem::exists(file));
}

// A row whose file the batch refused or removed is stored as not converted,
// with the reason; a list written without reasons still reads.
TEST(ListStoreTest, ARowLeftUnconvertedKeepsWhy) {
    TStoredList list = TwoRows();
    list.Rows[0].Converted = false;
    list.Rows[0].Failure = "Too large, removed";
    const std::string text = ListToText(list);
    TStoredList read;
    std::string error;
    ASSERT_TRUE(ListFromText(text, read, error)) << error;
    EXPECT_EQ(read.Rows[0].Failure, "Too large, removed");
    EXPECT_FALSE(read.Rows[0].Converted);
    EXPECT_EQ(read.Rows[1].Failure, "");

    std::string older = text;
    const std::string line = "Failure=Too large, removed\n";
    older.erase(older.find(line), line.size());
    ASSERT_TRUE(ListFromText(older, read, error)) << error;
    EXPECT_EQ(read.Rows[0].Failure, "");
    ASSERT_EQ(read.Rows.size(), 2u);
}
