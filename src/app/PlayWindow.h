// The window of vantrel-play: the player's surface with the tool's keys.
//   space pauses and resumes, left and right seek 5 s, period steps one
//   frame, m mutes, q or closing the window quits.
#pragma once

#include "app/PlayerSurface.h"

#include <functional>

class TFFPlayer;

class TPlayWindow : public TPlayerSurface {
public:
    explicit TPlayWindow(TFFPlayer& player);

    // Carries out the key's action; false for a key the tool does not use.
    bool HandleKey(int key);

    // Called first when the window closes (q, the window's close button).
    std::function<void()> OnClose;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    TFFPlayer& FPlayer;
};
