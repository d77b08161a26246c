// PNG frames written with libpng into a temporary folder, moved into place when complete.
#include "png_frames.h"

#include <png.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "companion.h"

namespace {

// zlib's fastest level with the Sub filter: a frame is mostly runs of white, which compress well
// at any level, and higher levels cost more time than the encoding of a video does.
constexpr int COMPRESSION_LEVEL = 1;

void onPngError(png_structp, png_const_charp message) {
  companion::fail(std::string("cannot write a PNG frame: ") + message);
}

void onPngWarning(png_structp, png_const_charp) {}

std::string frameName(long k) {
  char name[40];
  std::snprintf(name, sizeof name, "frame-%06ld.png", k);
  return name;
}

}  // namespace

void openPngFrames(PngFrames& out, const std::string& folder) {
  namespace fs = std::filesystem;
  out.folder = folder;
  std::error_code ec;
  out.existing = fs::is_directory(folder, ec);
  if (!out.existing && fs::exists(folder, ec)) companion::fail(folder + ": not a folder");
  out.temporary =
      companion::temporaryPath(out.existing ? (fs::path(folder) / "frames").string() : folder);
  if (::mkdir(out.temporary.c_str(), 0777) != 0) {
    companion::fail(folder + ": " + std::strerror(errno));
  }
}

void writePngFrame(PngFrames& out, const Image& image) {
  const std::string path = out.temporary + "/" + frameName(out.count);
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) companion::fail(out.folder + ": " + std::strerror(errno));
  png_structp png =
      png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, onPngError, onPngWarning);
  png_infop info = png_create_info_struct(png);
  if (png == nullptr || info == nullptr) companion::fail("cannot write a PNG frame: out of memory");
  png_init_io(png, file);
  png_set_compression_level(png, COMPRESSION_LEVEL);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
  png_set_IHDR(png, info, static_cast<png_uint_32>(image.width),
               static_cast<png_uint_32>(image.height), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  std::vector<png_bytep> rows(static_cast<std::size_t>(image.height));
  for (std::size_t y = 0; y < rows.size(); ++y) {
    rows[y] =
        const_cast<png_bytep>(image.rgb.data() + y * 3 * static_cast<std::size_t>(image.width));
  }
  png_set_rows(png, info, rows.data());
  png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
  png_destroy_write_struct(&png, &info);
  if (std::fclose(file) != 0) companion::fail(out.folder + ": " + std::strerror(errno));
  ++out.count;
}

void finishPngFrames(PngFrames& out) {
  if (!out.existing) {
    companion::commit(out.temporary, out.folder);
    return;
  }
  for (long k = 0; k < out.count; ++k) {
    const std::string name = frameName(k);
    if (std::rename((out.temporary + "/" + name).c_str(), (out.folder + "/" + name).c_str()) != 0) {
      companion::fail(out.folder + "/" + name + ": " + std::strerror(errno));
    }
  }
  std::error_code ignored;
  std::filesystem::remove(out.temporary, ignored);  // empty now
}
