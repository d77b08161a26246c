// PNG frames written with libpng into a temporary folder, renamed into place when complete.
#include "record/png_frames.h"

#include <png.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <vector>

#include "common/failure.h"
#include "common/signals.h"

namespace companion {

namespace {

namespace fs = std::filesystem;

std::string frameName(long k) {
  char name[40];
  std::snprintf(name, sizeof name, "frame-%06ld.png", k);
  return name;
}

// A folder that would mix these frames with others, or a file where the folder belongs, is
// refused before the recording starts.
const std::string& refuseUnfit(const std::string& folder) {
  fs::path named(folder);
  if (!named.has_filename()) named = named.parent_path();  // "frames/" is the folder "frames"
  std::error_code ec;
  const fs::file_status status = fs::status(named, ec);
  if (fs::exists(status) && !fs::is_directory(status)) {
    throw Failure(folder + ": not a folder");
  }
  if (fs::is_directory(status) && !fs::is_empty(named, ec)) {
    throw Failure(folder + ": holds files already; name a new or empty folder, so " +
                  "that no earlier frames mix with these");
  }
  return folder;
}

// libpng reports a failure, a failed write included, by calling onPngError, which must not
// return: it jumps back into writePng. The reason of a failed write is the C library's.
struct PngTarget {
  std::FILE* file;
  int writeError = 0;
  char message[200] = "";
};

void onPngError(png_structp png, png_const_charp message) {
  PngTarget* target = static_cast<PngTarget*>(png_get_error_ptr(png));
  std::snprintf(target->message, sizeof target->message, "%s", message);
  png_longjmp(png, 1);
}

void writeData(png_structp png, png_bytep data, png_size_t size) {
  PngTarget* target = static_cast<PngTarget*>(png_get_io_ptr(png));
  errno = 0;
  if (std::fwrite(data, 1, size, target->file) != size) {
    target->writeError = errno != 0 ? errno : EIO;
    png_error(png, "write failed");
  }
}

void flushData(png_structp) {}

// zlib's fastest level without filters: a frame is mostly runs of white, which any level
// compresses well (to about 8 KB), and level 1 takes half the time of the level 3 of libpng's
// "fast" writing, as long as drawing the frame does. Nothing with a destructor is created
// between setjmp and the jump back, and the failure is thrown only once libpng's state is gone.
// Throws "<name>: <reason>", `name` being the frame as the user will find it.
void writePng(const std::string& path, const std::string& name, std::vector<png_bytep>& rows,
              const Image& frame) {
  PngTarget target{std::fopen(path.c_str(), "wbe")};
  if (target.file == nullptr) throw systemFailure(name, errno);
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &target, onPngError, nullptr);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  if (info == nullptr || setjmp(png_jmpbuf(png)) != 0) {
    png_destroy_write_struct(&png, &info);
    std::fclose(target.file);
    if (target.writeError != 0) throw systemFailure(name, target.writeError);
    throw Failure(name + ": " + (target.message[0] != '\0' ? target.message : "out of memory"));
  }
  png_set_write_fn(png, &target, writeData, flushData);
  png_set_compression_level(png, 1);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
  png_set_IHDR(png, info, static_cast<png_uint_32>(frame.width),
               static_cast<png_uint_32>(frame.height), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_rows(png, info, rows.data());
  png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
  png_destroy_write_struct(&png, &info);
  errno = 0;
  if (std::fclose(target.file) != 0) throw systemFailure(name, errno != 0 ? errno : EIO);
}

}  // namespace

PngFrames::PngFrames(const std::string& folder)
    : folder_(refuseUnfit(folder)),
      temporary_(folder, TemporaryOutput::Kind::Folder),
      writer_(&PngFrames::writeAll, this) {}

PngFrames::~PngFrames() {
  stopWriter();
}

void PngFrames::writeAll() {
  std::vector<png_bytep> rows;
  std::unique_lock<std::mutex> held(lock_);
  for (long k = 0;; ++k) {
    changed_.wait(held, [this] { return full_ || ended_; });
    if (!full_) return;
    held.unlock();
    std::exception_ptr failure;
    try {
      const Image& frame = pending_;
      rows.resize(static_cast<std::size_t>(frame.height));
      for (std::size_t y = 0; y < rows.size(); ++y) {
        rows[y] =
            const_cast<png_bytep>(frame.rgb.data() + y * 3 * static_cast<std::size_t>(frame.width));
      }
      const std::string name = frameName(k);
      writePng(temporary_.path() + "/" + name, (fs::path(folder_) / name).string(), rows, frame);
    } catch (...) {
      failure = std::current_exception();
    }
    held.lock();
    full_ = false;
    failure_ = failure;
    changed_.notify_all();
    if (failure) return;
  }
}

void PngFrames::stopWriter() {
  {
    const std::lock_guard<std::mutex> held(lock_);
    ended_ = true;
  }
  changed_.notify_all();
  if (writer_.joinable()) writer_.join();
}

void PngFrames::write(Image& image) {
  std::unique_lock<std::mutex> held(lock_);
  // Woken now and then to see whether a stop signal came while the writer is still busy.
  while (!changed_.wait_for(held, std::chrono::milliseconds(50),
                            [this] { return !full_ || failure_; })) {
    throwIfInterrupted();
  }
  if (failure_) std::rethrow_exception(failure_);
  std::swap(pending_, image);
  full_ = true;
  ++count_;
  changed_.notify_all();
}

void PngFrames::finish() {
  stopWriter();
  if (failure_) std::rethrow_exception(failure_);
  temporary_.commit();
}

}  // namespace companion
