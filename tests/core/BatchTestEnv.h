// The set-up the batch core's tests share: the built-in formats, the
// converter's libraries, an output folder in the settings and a one-second
// clip with picture and sound, planned into a converter of the test's own.
#pragma once

#include "AppCoreTestEnv.h"

#include "core/BatchPlan.h"
#include "core/DefaultFormats.h"
#include "core/FormatCatalogue.h"
#include "engine/FFmpegVCL.h"
#include "media/FFmpegLoader.h"

#include <filesystem>
#include <string>

namespace appcoretest {

constexpr int kMp4 = 102; // MPEG-4 Video (*.mp4)

class TBatchTest : public TAppCoreTest {
protected:
    void SetUp() override {
        TAppCoreTest::SetUp();
        ASSERT_EQ(EnsureDefaultFormatFiles(Global), "");
        ASSERT_TRUE(FFmpegLoader().LoadLibraries(ConverterLibraries));
        std::filesystem::create_directories(OutputDir());
        ASSERT_TRUE(Global.Settings().WriteString("settings", "OutPutDir", OutputDir()));
        ASSERT_TRUE(testsupport::MakeMedia(Clip(), "-f lavfi -i testsrc2=size=160x120:rate=25 "
                                                   "-f lavfi -i sine=f=440 -t 1 -c:v mpeg4 "
                                                   "-c:a mp2 -shortest"));
        Converter.NewOutputsOnly = true;
    }
    void TearDown() override { Converter.ClearTasks(); }

    std::string OutputDir() const { return Temp.file("out"); }
    std::string Output(const std::string& name) const { return OutputDir() + "/" + name; }
    std::string Clip() const { return Temp.file("clip.avi"); }
    TlvFilesRecord Row(const std::string& file) const {
        return NewFilesRecord(file, "", 1000000, "lbox");
    }

    TFFmpegVCL Converter;
};

} // namespace appcoretest
