// JPEG files through libjpeg: reading the cover picture, writing snapshots
// at a chosen quality.
#pragma once

#include <QImage>
#include <string>

// Reads a JPEG file; a null image when the file is missing or not a JPEG.
QImage ReadJpegFile(const std::string& path);

// Writes an image as a JPEG of the given quality (1..100); false on failure.
bool WriteJpegFile(const std::string& path, const QImage& image, int quality);
