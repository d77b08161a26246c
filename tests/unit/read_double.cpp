// Part of the test double: programs linked with -Wl,--wrap=read (the fuzz targets) get every read()
// of the model code here, where it can be cut short as a pipe cuts it, so that fields straddle the
// stream buffer's refills.
#include <cstddef>

#include <sys/types.h>

extern "C" ssize_t __real_read(int fd, void* buffer, std::size_t count);

std::size_t readLimit = 0;  // bytes at most per read(); 0 leaves reads as they are

extern "C" ssize_t __wrap_read(int fd, void* buffer, std::size_t count) {
  if (readLimit != 0 && count > readLimit) count = readLimit;
  return __real_read(fd, buffer, count);
}
