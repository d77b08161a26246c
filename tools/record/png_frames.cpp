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

PngFrames* running = nullptr;  // stopped before its folder is removed, if the recording fails

std::string frameName(long k) {
  char name[40];
  std::snprintf(name, sizeof name, "frame-%06ld.png", k);
  return name;
}

// libpng reports a failure, a full disk included, by calling this, which must not return: it jumps
// back into writePng with the message.
struct PngError {
  char message[200];
};

void onPngError(png_structp png, png_const_charp message) {
  PngError* error = static_cast<PngError*>(png_get_error_ptr(png));
  std::snprintf(error->message, sizeof error->message, "%s", message);
  png_longjmp(png, 1);
}

// zlib's fastest level without filters: a frame is mostly runs of white, which any level
// compresses well (to about 8 KB), and level 1 takes half the time of the level 3 of libpng's
// "fast" writing, as long as drawing the frame does. Nothing with a destructor is created
// between setjmp and the jump back.
std::string writePng(const std::string& path, std::vector<png_bytep>& rows, const Image& frame) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return std::strerror(errno);
  PngError error{};
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &error, onPngError, nullptr);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  if (info == nullptr || setjmp(png_jmpbuf(png)) != 0) {
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
    return error.message[0] != '\0' ? error.message : "out of memory";
  }
  png_init_io(png, file);
  png_set_compression_level(png, 1);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
  png_set_IHDR(png, info, static_cast<png_uint_32>(frame.width),
               static_cast<png_uint_32>(frame.height), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_rows(png, info, rows.data());
  png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
  png_destroy_write_struct(&png, &info);
  return std::fclose(file) == 0 ? "" : std::strerror(errno);
}

void writeFrames(PngFrames* out) {
  std::vector<png_bytep> rows;
  std::unique_lock<std::mutex> held(out->lock);
  for (long k = 0;; ++k) {
    out->changed.wait(held, [out] { return out->full || out->ended; });
    if (!out->full) return;
    held.unlock();
    const Image& frame = out->pending;
    rows.resize(static_cast<std::size_t>(frame.height));
    for (std::size_t y = 0; y < rows.size(); ++y) {
      rows[y] =
          const_cast<png_bytep>(frame.rgb.data() + y * 3 * static_cast<std::size_t>(frame.width));
    }
    const std::string error = writePng(out->temporary + "/" + frameName(k), rows, frame);
    held.lock();
    out->full = false;
    if (!error.empty()) out->error = out->folder + ": " + error;
    out->changed.notify_all();
    if (!error.empty()) return;
  }
}

// Lets the writer finish the frame it holds, and waits for it.
void stopWriter(PngFrames& out) {
  {
    std::lock_guard<std::mutex> held(out.lock);
    out.ended = true;
  }
  out.changed.notify_all();
  if (out.writer.joinable()) out.writer.join();
}

void stopRunningWriter() {
  if (running != nullptr) stopWriter(*running);
  running = nullptr;
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
  out.writer = std::thread(writeFrames, &out);
  running = &out;
  companion::atFailure(stopRunningWriter);
}

void writePngFrame(PngFrames& out, Image& image) {
  std::unique_lock<std::mutex> held(out.lock);
  out.changed.wait(held, [&out] { return !out.full || !out.error.empty(); });
  if (!out.error.empty()) {
    held.unlock();
    companion::fail(out.error);
  }
  std::swap(out.pending, image);
  out.full = true;
  ++out.count;
  out.changed.notify_all();
}

void finishPngFrames(PngFrames& out) {
  stopRunningWriter();
  if (!out.error.empty()) companion::fail(out.error);
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
