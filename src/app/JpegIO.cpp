#include "app/JpegIO.h"

#include <csetjmp>
#include <cstdio>
#include <memory>

#include <jpeglib.h>

namespace {

// libjpeg reports fatal errors through a callback; it jumps back here
// instead of ending the process.
struct TJpegError {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

void OnJpegError(j_common_ptr info) {
    auto* error = reinterpret_cast<TJpegError*>(info->err);
    std::longjmp(error->jump, 1);
}

struct FileCloser {
    void operator()(FILE* file) const {
        if (file) std::fclose(file);
    }
};
using TFile = std::unique_ptr<FILE, FileCloser>;

// Kept apart from the function with setjmp so that no object with a
// destructor lives across the jump.
bool DecodeJpeg(FILE* file, QImage& image) {
    jpeg_decompress_struct info{};
    TJpegError error{};
    info.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = OnJpegError;
    if (setjmp(error.jump)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_stdio_src(&info, file);
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    image = QImage(static_cast<int>(info.output_width), static_cast<int>(info.output_height),
                   QImage::Format_RGB888);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = image.scanLine(static_cast<int>(info.output_scanline));
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

bool EncodeJpeg(FILE* file, const QImage& rgb, int quality) {
    jpeg_compress_struct info{};
    TJpegError error{};
    info.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = OnJpegError;
    if (setjmp(error.jump)) {
        jpeg_destroy_compress(&info);
        return false;
    }
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, file);
    info.image_width = static_cast<JDIMENSION>(rgb.width());
    info.image_height = static_cast<JDIMENSION>(rgb.height());
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        auto row = const_cast<JSAMPROW>(rgb.constScanLine(static_cast<int>(info.next_scanline)));
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return true;
}

} // namespace

QImage ReadJpegFile(const std::string& path) {
    TFile file(std::fopen(path.c_str(), "rb"));
    if (!file) return {};
    QImage image;
    if (!DecodeJpeg(file.get(), image)) return {};
    return image;
}

bool WriteJpegFile(const std::string& path, const QImage& image, int quality) {
    if (image.isNull()) return false;
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    TFile file(std::fopen(path.c_str(), "wb"));
    if (!file) return false;
    const bool encoded =
        EncodeJpeg(file.get(), rgb, quality < 1 ? 1 : (quality > 100 ? 100 : quality));
    const bool closed = std::fclose(file.release()) == 0;
    return encoded && closed;
}
