// The pictures' hand-over alone: the pictures worked on reach every output
// fed by their stream, in order, with their own time, quality and count,
// the same whether the work runs here or on its own thread; pictures
// before the start point and, after a stop, those not worked on before it
// reach none.
#include "EngineTestSupport.h"
#include "engine/PictureHandOver.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>
#include <thread>
#include <tuple>
#include <vector>

namespace {

// What an output got: its index, the stream's time and quality, the
// picture's count and width.
using TGot = std::tuple<int, int64_t, int, int, int>;

// One input stream turned a quarter (so the work changes its pictures)
// feeding outputs 0 and 1; output 2 is fed by another stream.
class PictureHandOverTest : public ::testing::Test {
protected:
    void SetUp() override {
        RequireLibraries();
        Work.AddStream(0, 0, 0, 90);
        Inputs.resize(2);
        Inputs[1].FileIndex = 0;
        for (int source : {0, 0, 1}) {
            TOutputStream& ost = Outputs.emplace_back();
            ost.SourceIndex = source;
            ost.EncodingNeeded = true;
            ost.MediaType = AVMEDIA_TYPE_VIDEO;
        }
        Slots.resize(1);
    }

    std::unique_ptr<TPictureHandOver> Make(int64_t startTime) {
        TStageControl control{[this] {
                                  std::lock_guard lock(Lock);
                                  PauseThreads.insert(std::this_thread::get_id());
                              },
                              [this] { return Stopped.load(); }};
        return std::make_unique<TPictureHandOver>(
            TPictureHandOver::TTables{Work, Inputs, Outputs, Slots, Counter}, control, startTime,
            [this](TOutputStream& ost, TInputStream& ist, AVFrame* picture, AVRational) {
                Got.emplace_back(static_cast<int>(&ost - Outputs.data()), ist.FramePts, ist.Quality,
                                 Counter, picture->width);
            });
    }

    // Decoded pictures of 4x2 at `times` (ms), quality the time's tenth.
    void Feed(TPictureHandOver& handOver, const std::vector<int64_t>& times) {
        for (int64_t ms : times) {
            ff::FramePtr frame(ff::avutil.av_frame_alloc());
            frame->format = AV_PIX_FMT_GRAY8;
            frame->width = 4;
            frame->height = 2;
            ASSERT_GE(ff::avutil.av_frame_get_buffer(frame.get(), 0), 0);
            Inputs[0].FramePts = ms * 1000;
            Inputs[0].Quality = static_cast<int>(ms / 10);
            handOver.Work(Inputs[0], frame.get());
        }
    }

    // The stream's pictures as both its outputs get them.
    static std::vector<TGot> Expected(const std::vector<std::pair<int64_t, int>>& pictures) {
        std::vector<TGot> got;
        for (const auto& [ms, count] : pictures)
            for (int ost : {0, 1})
                got.emplace_back(ost, ms * 1000, static_cast<int>(ms / 10), count, 2);
        return got;
    }

    bool PausedOffThisThread() {
        std::lock_guard lock(Lock);
        for (const std::thread::id& id : PauseThreads)
            if (id != std::this_thread::get_id()) return true;
        return false;
    }

    TEngineHookCallback Hook;
    TFrameHookList Modules;
    TPictureWork Work{{nullptr, Hook, Modules, false}, false, [](int, const std::string&) {}};
    std::vector<TInputStream> Inputs;
    std::vector<TOutputStream> Outputs;
    std::vector<TInputFileSlot> Slots;
    int Counter = 0;
    std::atomic<bool> Stopped{false};
    std::mutex Lock;
    std::set<std::thread::id> PauseThreads;
    std::vector<TGot> Got;
};

} // namespace

TEST_F(PictureHandOverTest, HereThePicturesFromTheStartPointReachTheirOutputsUntilAStop) {
    auto handOver = Make(40000);
    handOver->Start(false);
    Feed(*handOver, {0, 40, 80});
    handOver->Finish();
    EXPECT_EQ(Got, Expected({{40, 2}, {80, 3}})) << "the one before the start point counts too";
    Stopped = true;
    Feed(*handOver, {120});
    EXPECT_EQ(Got.size(), 4u);
    EXPECT_FALSE(PausedOffThisThread());
}

TEST_F(PictureHandOverTest, OnItsThreadTheOutputsGetTheSamePicturesInTheSameOrder) {
    auto handOver = Make(40000);
    handOver->Start(true);
    Feed(*handOver, {0, 40, 80, 120, 160});
    handOver->Finish();
    EXPECT_TRUE(PausedOffThisThread()) << "the work ran on a thread of its own";
    EXPECT_EQ(Got, Expected({{40, 2}, {80, 3}, {120, 4}, {160, 5}}));
    // After a stop nothing more is worked on; the stage ends at the next
    // finish and the pictures that still come reach no output.
    Stopped = true;
    Feed(*handOver, {200, 240});
    handOver->Finish();
    Feed(*handOver, {280});
    EXPECT_EQ(Got.size(), 8u);
}
