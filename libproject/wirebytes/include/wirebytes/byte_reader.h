// Reading a received packet field by field without ever reading past its end.
//
// The reader keeps its position. A read that does not fit the bytes left returns 0 (or null),
// moves nothing and marks the reader failed; every later read fails too, so a parser may read
// all its fields and check ok() once at the end.
#pragma once

#include <cstddef>
#include <cstdint>

#include "wirebytes/byte_order.h"

namespace wirebytes {

class byte_reader {
public:
  // A null `data` reads as empty.
  byte_reader(const uint8_t* data, std::size_t size) : data_(data), size_(data ? size : 0) {}

  bool ok() const { return ok_; }
  std::size_t size() const { return size_; }
  std::size_t position() const { return at_; }
  std::size_t remaining() const { return ok_ ? size_ - at_ : 0; }
  // At least `n` more bytes can be read.
  bool has(std::size_t n) const { return remaining() >= n; }
  // Everything was read and nothing failed.
  bool done() const { return ok_ && at_ == size_; }
  // The next unread byte (null on an empty or failed reader).
  const uint8_t* here() const { return ok_ && data_ ? data_ + at_ : nullptr; }

  uint8_t u8() {
    const uint8_t* p = take(1);
    return p ? p[0] : 0;
  }
  uint16_t u16() {
    const uint8_t* p = take(2);
    return p ? get_be16(p) : 0;
  }
  uint32_t u32() {
    const uint8_t* p = take(4);
    return p ? get_be32(p) : 0;
  }
  uint16_t le16() {
    const uint8_t* p = take(2);
    return p ? get_le16(p) : 0;
  }
  uint32_t le32() {
    const uint8_t* p = take(4);
    return p ? get_le32(p) : 0;
  }
  // The next `n` bytes, in place; null when fewer are left.
  const uint8_t* bytes(std::size_t n) { return take(n); }
  bool skip(std::size_t n) { return take(n) != nullptr || n == 0; }

private:
  const uint8_t* take(std::size_t n) {
    if (!ok_ || size_ - at_ < n) {
      ok_ = false;
      return nullptr;
    }
    const uint8_t* p = data_ ? data_ + at_ : nullptr;
    at_ += n;
    return p;
  }

  const uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
  bool ok_ = true;
};

}  // namespace wirebytes
