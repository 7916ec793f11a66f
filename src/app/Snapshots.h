// Still pictures of the preview: the frame at its own size and as the window
// shows it, saved as 24-bit bitmaps and JPEGs into the snapshot folder.
#pragma once

#include <QImage>
#include <string>

class TGlobalObject;

// Writes an image as an uncompressed 24-bit device-independent bitmap
// (bottom-up rows padded to 4 bytes); false when the file cannot be written.
bool WriteBmp24File(const std::string& path, const QImage& image);

// Writes the snapshot files the settings ask for into the snapshot folder
// ("Snapshot_full.bmp", "Snapshot_small.bmp", "Snapshot_full.jpg",
// "Snapshot_small.jpg", in that order, replacing older ones) and opens the
// folder afterwards when asked to. Returns the number of files written.
int SaveSnapshots(const TGlobalObject& g, const QImage& full, const QImage& small, bool openFolder);
