// A growing buffer of bytes whose new room is not cleared first: a file's bytes are read straight
// into it, and only what was read is ever looked at.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <utility>

namespace companion {

class ByteBuffer {
 public:
  const char* data() const { return data_.get(); }
  std::size_t size() const { return size_; }
  std::size_t capacity() const { return capacity_; }

  // Room for `bytes` more at the end, to be filled and then kept with grow().
  char* room(std::size_t bytes) {
    if (capacity_ - size_ < bytes) {
      const std::size_t capacity = std::max(2 * capacity_, size_ + bytes);
      std::unique_ptr<char[]> bigger(new char[capacity]);
      if (size_ > 0) std::memcpy(bigger.get(), data_.get(), size_);
      data_ = std::move(bigger);
      capacity_ = capacity;
    }
    return data_.get() + size_;
  }
  void grow(std::size_t bytes) { size_ += bytes; }

  // Keeps the first `bytes`.
  void cut(std::size_t bytes) { size_ = std::min(size_, bytes); }
  // Drops the first `bytes`, moving the rest to the front.
  void drop(std::size_t bytes) {
    if (bytes >= size_) {
      size_ = 0;
      return;
    }
    std::memmove(data_.get(), data_.get() + bytes, size_ - bytes);
    size_ -= bytes;
  }
  // Gives back the room beyond what it holds.
  void shrink() {
    if (capacity_ == size_) return;
    std::unique_ptr<char[]> fitted(size_ > 0 ? new char[size_] : nullptr);
    if (size_ > 0) std::memcpy(fitted.get(), data_.get(), size_);
    data_ = std::move(fitted);
    capacity_ = size_;
  }
  // Gives the memory back, keeping nothing.
  void release() {
    data_.reset();
    size_ = capacity_ = 0;
  }

 private:
  std::unique_ptr<char[]> data_;
  std::size_t size_ = 0, capacity_ = 0;
};

}  // namespace companion
