// The picture side of vantrel-convert --format: Qt's picture support that
// text layers need, the measuring of text boxes, and the drawing of a row's
// effects and layers into a frame of the frame hook.
#pragma once

#include "RowEdits.h"

#include "effects/EditSettings.h"
#include "media/Bitmap24.h"

#include <cstdint>
#include <memory>

class TRowPictures {
public:
    // With `needed`, makes sure a QGuiApplication exists (on the offscreen
    // platform unless QT_QPA_PLATFORM chooses one).
    explicit TRowPictures(bool needed);
    ~TRowPictures();
    TRowPictures(const TRowPictures&) = delete;
    TRowPictures& operator=(const TRowPictures&) = delete;

    // Measures text boxes in a layer's font; empty without picture support.
    TTextMeasure Measure() const;

    // Draws the row on the frame (RenderRowFrame with one layer cache for
    // the whole batch). Called by one thread at a time.
    void Draw(const TlvFilesRecord& row, Bitmap24& frame, int64_t ptsUS);

private:
    struct TImpl;
    std::unique_ptr<TImpl> FImpl;
};

// Checks the edits once, before any file is touched (throws what
// ApplyRowEdits throws); true when a row with them needs picture support:
// a layer to measure or a frame hook to draw.
bool EditsNeedPictures(const std::vector<std::string>& edits);
