// The presenter alone: where a picture goes on the surface at each aspect
// setting, and when the surface is made again.
#include "player/Presenter.h"

#include <gtest/gtest.h>

namespace {

// Counts the sizes it is set to.
class TModeSurface : public IVideoSurface {
public:
    int ClientWidth() const override { return 0; }
    int ClientHeight() const override { return 0; }
    bool SetMode(int, int) override {
        ++Modes;
        return Accept;
    }
    void Show(const Bitmap32&, const TSurfaceRect&) override {}
    void Redraw() override {}
    int Modes = 0;
    bool Accept = true;
};

void ExpectRect(const TSurfaceRect& rect, int x, int y, int width, int height) {
    EXPECT_EQ(rect.X, x);
    EXPECT_EQ(rect.Y, y);
    EXPECT_EQ(rect.Width, width);
    EXPECT_EQ(rect.Height, height);
}

} // namespace

TEST(Presenter, APictureIsCentredAtItsOwnAspectAGivenOneOrTheWholeSurface) {
    TPresenter presenter;
    ASSERT_TRUE(presenter.Make(640, 360, false));
    // 4:3 pictures on a 16:9 surface: bars left and right.
    ExpectRect(presenter.PictureRect(0, 320, 240, AVRational{1, 1}), 80, 0, 480, 360);
    // Anamorphic: 720 x 576 at 16:15 pixels is 4:3 as well.
    ExpectRect(presenter.PictureRect(0, 720, 576, AVRational{16, 15}), 80, 0, 480, 360);
    // No sample aspect counts as square pixels.
    ExpectRect(presenter.PictureRect(0, 320, 240, AVRational{0, 1}), 80, 0, 480, 360);
    // A wider aspect asked: bars above and below, even sizes.
    ExpectRect(presenter.PictureRect(2.35f, 320, 240, AVRational{1, 1}), 0, 44, 640, 272);
    // Negative: the whole surface.
    ExpectRect(presenter.PictureRect(-1, 320, 240, AVRational{1, 1}), 0, 0, 640, 360);
}

TEST(Presenter, TheSurfaceIsSetOnlyWhenItsSizeChangesOrWhenForced) {
    TModeSurface surface;
    TPresenter presenter;
    presenter.Attach(&surface);
    EXPECT_FALSE(presenter.Made());
    ASSERT_TRUE(presenter.Make(640, 360, false));
    ASSERT_TRUE(presenter.Make(640, 360, false));
    EXPECT_EQ(surface.Modes, 1);
    ASSERT_TRUE(presenter.Make(640, 360, true));
    ASSERT_TRUE(presenter.Make(320, 180, false));
    EXPECT_EQ(surface.Modes, 3);
    EXPECT_EQ(presenter.Width(), 320);
    // A surface that refuses keeps the size it had.
    surface.Accept = false;
    EXPECT_FALSE(presenter.Make(800, 600, false));
    EXPECT_EQ(presenter.Width(), 320);
    EXPECT_EQ(presenter.Height(), 180);
}
