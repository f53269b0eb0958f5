// Building a packet field by field: appended to a vector or a string, or into a buffer of fixed
// size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "wirebytes/byte_order.h"

namespace wirebytes {

// Appends to a buffer it does not own, a byte vector (byte_writer) or a string (string_writer);
// calls chain: byte_writer(out).u32(a).u16(b).
template <class Buffer>
class appending_writer {
public:
  explicit appending_writer(Buffer& out) : out_(out) {}

  appending_writer& u8(uint8_t v) {
    *extend(1) = v;
    return *this;
  }
  appending_writer& u16(uint16_t v) {
    put_be16(extend(2), v);
    return *this;
  }
  appending_writer& u32(uint32_t v) {
    put_be32(extend(4), v);
    return *this;
  }
  appending_writer& u64(uint64_t v) {
    put_be64(extend(8), v);
    return *this;
  }
  appending_writer& le16(uint16_t v) {
    put_le16(extend(2), v);
    return *this;
  }
  appending_writer& le32(uint32_t v) {
    put_le32(extend(4), v);
    return *this;
  }
  appending_writer& bytes(const void* data, std::size_t n) {
    if (n > 0 && data) {
      const auto* p = static_cast<const typename Buffer::value_type*>(data);
      out_.insert(out_.end(), p, p + n);
    }
    return *this;
  }
  appending_writer& bytes(std::string_view data) { return bytes(data.data(), data.size()); }
  std::size_t size() const { return out_.size(); }

private:
  uint8_t* extend(std::size_t n) {
    out_.resize(out_.size() + n);
    return reinterpret_cast<uint8_t*>(&out_[0]) + out_.size() - n;
  }

  Buffer& out_;
};

using byte_writer = appending_writer<std::vector<uint8_t>>;
using string_writer = appending_writer<std::string>;

// Writes into `capacity` bytes at `data`. A field that does not fit is not written, nor is
// anything after it: ok() turns false and position() stays where the first refusal was.
class span_writer {
public:
  span_writer(uint8_t* data, std::size_t capacity) : data_(data), capacity_(data ? capacity : 0) {}

  bool ok() const { return ok_; }
  std::size_t position() const { return at_; }
  std::size_t remaining() const { return ok_ ? capacity_ - at_ : 0; }

  span_writer& u8(uint8_t v) {
    if (uint8_t* p = take(1))
      p[0] = v;
    return *this;
  }
  span_writer& u16(uint16_t v) {
    if (uint8_t* p = take(2))
      put_be16(p, v);
    return *this;
  }
  span_writer& u32(uint32_t v) {
    if (uint8_t* p = take(4))
      put_be32(p, v);
    return *this;
  }
  span_writer& le16(uint16_t v) {
    if (uint8_t* p = take(2))
      put_le16(p, v);
    return *this;
  }
  span_writer& le32(uint32_t v) {
    if (uint8_t* p = take(4))
      put_le32(p, v);
    return *this;
  }
  span_writer& bytes(const void* src, std::size_t n) {
    if (n == 0)
      return *this;
    if (!src) {
      ok_ = false;
      return *this;
    }
    if (uint8_t* p = take(n))
      std::memcpy(p, src, n);
    return *this;
  }

private:
  uint8_t* take(std::size_t n) {
    if (!ok_ || capacity_ - at_ < n) {
      ok_ = false;
      return nullptr;
    }
    uint8_t* p = data_ + at_;
    at_ += n;
    return p;
  }

  uint8_t* data_;
  std::size_t capacity_;
  std::size_t at_ = 0;
  bool ok_ = true;
};

}  // namespace wirebytes
