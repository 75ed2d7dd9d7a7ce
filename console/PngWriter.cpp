#include "PngWriter.h"

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>

namespace sigrun {

namespace {

// libpng reports errors by a long jump back into WriteRows; nothing there has a destructor.
struct ErrorText
{
    char text[256];
};

void OnError(png_structp png, png_const_charp message)
{
    auto* error = static_cast<ErrorText*>(png_get_error_ptr(png));
    std::snprintf(error->text, sizeof error->text, "%s", message != nullptr ? message : "");
    png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp)
{
}

// 0 on success, else -1 with the reason in error.
int WriteRows(std::FILE* out, png_uint_32 width, png_uint_32 height, const uint8_t* rgb,
              ErrorText* error)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, error, OnError, OnWarning);
    if (png == nullptr)
    {
        std::snprintf(error->text, sizeof error->text, "out of memory");
        return -1;
    }
    png_infop info = png_create_info_struct(png);
    if (info == nullptr || setjmp(png_jmpbuf(png)) != 0)
    {
        if (info == nullptr)
            std::snprintf(error->text, sizeof error->text, "out of memory");
        png_destroy_write_struct(&png, info != nullptr ? &info : nullptr);
        return -1;
    }
    png_init_io(png, out);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (png_uint_32 y = 0; y < height; ++y)
        png_write_row(png, rgb + static_cast<std::size_t>(y) * width * 3);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return 0;
}

} // namespace

bool WritePng(std::FILE* out, int32_t width, int32_t height, const uint8_t* rgb, std::string& error)
{
    if (out == nullptr || rgb == nullptr || width <= 0 || height <= 0)
    {
        error = "no picture to write";
        return false;
    }
    ErrorText text{};
    if (WriteRows(out, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), rgb,
                  &text) != 0)
    {
        error = text.text;
        return false;
    }
    if (std::fflush(out) != 0 || std::ferror(out) != 0)
    {
        error = std::strerror(errno != 0 ? errno : EIO);
        return false;
    }
    return true;
}

bool WritePngFile(const std::string& path, int32_t width, int32_t height, const uint8_t* rgb,
                  std::string& error)
{
    const std::string part = path + ".part";
    std::FILE* out = std::fopen(part.c_str(), "wb");
    if (out == nullptr)
    {
        error = std::strerror(errno);
        return false;
    }
    bool ok = WritePng(out, width, height, rgb, error);
    if (std::fclose(out) != 0 && ok)
    {
        error = std::strerror(errno);
        ok = false;
    }
    if (ok && std::rename(part.c_str(), path.c_str()) != 0)
    {
        error = std::strerror(errno);
        ok = false;
    }
    if (!ok)
        std::remove(part.c_str());
    return ok;
}

} // namespace sigrun
