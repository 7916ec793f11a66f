// The SDL2 headers the player's audio output is built against.
#pragma once

#include <SDL.h>
