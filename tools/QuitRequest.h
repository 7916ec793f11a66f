// How vantrel-play ends on request: q, closing its window, SIGINT or SIGTERM,
// at any moment, within a second.
//
// A request is handed to the main thread for an orderly end (the window
// closes, the player closes, the event loop quits). A thread of its own
// ends the process when that has not happened by the deadline: a source
// whose opening blocks (a named pipe without a writer, a dead network
// share) holds the player's open, and with it the main thread, for good.
#pragma once

#include <functional>

namespace quitrequest {

// Catches SIGINT and SIGTERM from now on; `orderly` runs on the main thread
// for the first request.
void Install(std::function<void()> orderly);
// Any thread. The first request counts; `status` is the exit status.
void Request(int status);
bool Requested();
int Status();

} // namespace quitrequest
