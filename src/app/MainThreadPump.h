// Connects the media core's main-thread hand-over to the Qt event loop: the
// GUI thread becomes the main thread, waits on it pump Qt's events, and
// calls posted by worker threads run from the event loop.
#pragma once

class QObject;

// Safe to call more than once; the first call decides the main thread.
void InstallMainThreadPump();
