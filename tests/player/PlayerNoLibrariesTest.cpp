// The player before any media library is loaded.
#include "player/FFPlay.h"

#include <gtest/gtest.h>

TEST(PlayerWithoutLibraries, OpenFailsWithTheTextAndNothingRuns) {
    TFFPlayer player;
    EXPECT_FALSE(player.LibrariesLoaded());
    EXPECT_FALSE(player.Open("/tmp/anything.mkv", nullptr, false));
    EXPECT_EQ(player.LastErrMsg(), "libav or libsdl not loaded.");
    EXPECT_FALSE(player.FileOpen());
    EXPECT_TRUE(player.IsPaused());
    player.Pause();
    player.Seek(0, true, 1000000); // nothing open: returns at once
    EXPECT_EQ(player.CurrentFrame().Width, 0);
    player.Close(true);
}
