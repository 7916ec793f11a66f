#include "app/Snapshots.h"

#include "app/JpegIO.h"
#include "app/Shell.h"
#include "core/GlobalUnit.h"
#include "core/IniFile.h"
#include "core/MessageSeam.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

const char* const kSettings = "settings";

void PutLE(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// File header and BITMAPINFOHEADER of an uncompressed 24-bit picture.
std::vector<std::uint8_t> BmpHeaders(int width, int height, std::uint32_t imageBytes) {
    std::vector<std::uint8_t> out;
    out.push_back('B');
    out.push_back('M');
    PutLE(out, 14 + 40 + imageBytes, 4);
    PutLE(out, 0, 4);       // reserved
    PutLE(out, 14 + 40, 4); // offset of the pixels
    PutLE(out, 40, 4);      // size of the info header
    PutLE(out, static_cast<std::uint32_t>(width), 4);
    PutLE(out, static_cast<std::uint32_t>(height), 4); // positive: bottom-up
    PutLE(out, 1, 2);                                  // planes
    PutLE(out, 24, 2);                                 // bits per pixel
    PutLE(out, 0, 4);                                  // no compression
    PutLE(out, imageBytes, 4);
    PutLE(out, 2835, 4); // 72 dots per inch
    PutLE(out, 2835, 4);
    PutLE(out, 0, 4); // colours used
    PutLE(out, 0, 4); // important colours
    return out;
}

struct FileCloser {
    void operator()(FILE* file) const {
        if (file) std::fclose(file);
    }
};

bool Flag(const TIniFile& settings, const char* key) {
    return settings.ReadInteger(kSettings, key, 1) == 1;
}

bool WriteOne(const std::string& path, bool written) {
    if (!written)
        ShowMessageBox("Warning", "Could not write the snapshot file " + path + ".",
                       TMsgIcon::Warning, TMsgButtons::Ok);
    return written;
}

} // namespace

bool WriteBmp24File(const std::string& path, const QImage& image) {
    if (image.isNull()) return false;
    const QImage bgr = image.convertToFormat(QImage::Format_BGR888);
    const int width = bgr.width(), height = bgr.height();
    const std::size_t rowBytes = (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t(3);
    const std::vector<std::uint8_t> headers =
        BmpHeaders(width, height, static_cast<std::uint32_t>(rowBytes * height));
    std::unique_ptr<FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
    if (!file) return false;
    bool ok = std::fwrite(headers.data(), 1, headers.size(), file.get()) == headers.size();
    std::vector<std::uint8_t> row(rowBytes, 0);
    for (int y = height - 1; ok && y >= 0; --y) {
        std::copy_n(bgr.constScanLine(y), static_cast<std::size_t>(width) * 3, row.begin());
        ok = std::fwrite(row.data(), 1, rowBytes, file.get()) == rowBytes;
    }
    return std::fclose(file.release()) == 0 && ok;
}

int SaveSnapshots(const TGlobalObject& g, const QImage& full, const QImage& small,
                  bool openFolder) {
    const TIniFile settings(g.SettingsFile());
    std::string folder = EnsureFolder(
        g, "SnapOutPutDir", settings.ReadString(kSettings, "SnapOutPutDir", DefaultOutputFolder()));
    if (!folder.empty() && folder.back() != '/') folder += '/';
    const bool fullSize = Flag(settings, "snapFullSize");
    const bool smallSize = Flag(settings, "snapSmallSize");
    const bool bmp = Flag(settings, "snapBmp");
    const bool jpg = Flag(settings, "snapJpg");
    const int quality = settings.ReadInteger(kSettings, "jpgCmp", 30);
    int written = 0;
    auto write = [&](bool wanted, const char* name, const QImage& picture, bool asJpeg) {
        if (!wanted) return;
        const std::string path = folder + name;
        const bool ok =
            asJpeg ? WriteJpegFile(path, picture, quality) : WriteBmp24File(path, picture);
        if (WriteOne(path, ok)) ++written;
    };
    write(fullSize && bmp, "Snapshot_full.bmp", full, false);
    write(smallSize && bmp, "Snapshot_small.bmp", small, false);
    write(fullSize && jpg, "Snapshot_full.jpg", full, true);
    write(smallSize && jpg, "Snapshot_small.jpg", small, true);
    if (openFolder) OpenLocalInDesktop(folder);
    return written;
}
