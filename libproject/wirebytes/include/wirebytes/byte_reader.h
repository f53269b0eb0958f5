// Reading a received packet field by field without ever reading past its end.
//
// The reader keeps its position. A read that does not fit the bytes left returns 0 (or null),
// moves nothing and marks the reader failed; every later read fails too, so a parser may read
// all its fields and check ok() once at the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

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
  uint64_t u64() {
    const uint8_t* p = take(8);
    return p ? get_be64(p) : 0;
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

// The same over bytes held in a std::string or std::string_view (the message server's and the
// conversion server's protocols keep their frames as strings). Byte fields come back as views
// into the input; a read that does not fit gives an empty view and fails the reader.
class string_reader {
public:
  explicit string_reader(std::string_view data)
      : in_(reinterpret_cast<const uint8_t*>(data.data()), data.size()) {}

  bool ok() const { return in_.ok(); }
  std::size_t remaining() const { return in_.remaining(); }
  bool has(std::size_t n) const { return in_.has(n); }
  bool done() const { return in_.done(); }

  uint8_t u8() { return in_.u8(); }
  uint16_t u16() { return in_.u16(); }
  uint32_t u32() { return in_.u32(); }
  uint64_t u64() { return in_.u64(); }
  std::string_view bytes(std::size_t n) { return view(in_.bytes(n), n); }
  // A u16 length, then that many bytes.
  std::string_view text16() { return bytes(u16()); }
  // Everything not read yet; the reader is done after it.
  std::string_view rest() { return bytes(remaining()); }

private:
  static std::string_view view(const uint8_t* p, std::size_t n) {
    return p ? std::string_view(reinterpret_cast<const char*>(p), n) : std::string_view();
  }

  byte_reader in_;
};

}  // namespace wirebytes
