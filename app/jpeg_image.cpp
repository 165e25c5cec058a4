#include "app/jpeg_image.h"

#include <csetjmp>
#include <cstdio>
#include <vector>

#include <jpeglib.h>

namespace skarvel {

namespace {

// libjpeg reports fatal errors through error_exit, which must not return:
// it jumps back into DecodeJpeg instead of ending the process.
struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

void ErrorExit(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    std::longjmp(err->jump, 1);
}

void OutputMessage(j_common_ptr) {}

// Runs the decompression into rows; false on a libjpeg error. Kept free of
// objects with destructors between setjmp and longjmp.
bool Decompress(const unsigned char* data, unsigned long size, std::vector<unsigned char>& pixels, int& width,
                int& height) {
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = ErrorExit;
    err.pub.output_message = OutputMessage;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, data, size);
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    width = static_cast<int>(cinfo.output_width);
    height = static_cast<int>(cinfo.output_height);
    const size_t stride = static_cast<size_t>(width) * 3;
    pixels.resize(stride * static_cast<size_t>(height));
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = pixels.data() + stride * cinfo.output_scanline;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

}  // namespace

QImage DecodeJpeg(const QByteArray& data) {
    if (data.isEmpty()) return QImage();
    std::vector<unsigned char> pixels;
    int width = 0, height = 0;
    if (!Decompress(reinterpret_cast<const unsigned char*>(data.constData()), static_cast<unsigned long>(data.size()),
                    pixels, width, height) ||
        width <= 0 || height <= 0)
        return QImage();
    QImage image(width, height, QImage::Format_RGB888);
    const size_t stride = static_cast<size_t>(width) * 3;
    for (int y = 0; y < height; ++y)
        std::copy_n(pixels.data() + stride * static_cast<size_t>(y), stride, image.scanLine(y));
    return image;
}

}  // namespace skarvel
