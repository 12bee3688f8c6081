// Takes a fuzz input apart: fixed-size fields and length-prefixed texts from
// the front, the rest as one text. Reading past the end gives zeros and
// empty texts, so every input, however short, means something.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace tarveld::fuzz {

class FuzzInput {
 public:
  FuzzInput(const std::uint8_t* data, std::size_t size)
      : rest_(reinterpret_cast<const char*>(data), size) {}

  std::uint8_t Byte() {
    if (rest_.empty())
      return 0;
    const auto byte = static_cast<std::uint8_t>(rest_.front());
    rest_.remove_prefix(1);
    return byte;
  }

  // `sizeof(T)` bytes in machine order; missing bytes are zero.
  template <typename T>
  T Raw() {
    unsigned char bytes[sizeof(T)] = {};
    const std::size_t n = rest_.size() < sizeof(T) ? rest_.size() : sizeof(T);
    std::memcpy(bytes, rest_.data(), n);
    rest_.remove_prefix(n);
    T value;
    std::memcpy(&value, bytes, sizeof(T));
    return value;
  }

  // A text of at most 255 bytes: one length byte, then that many bytes (or
  // as many as remain).
  std::string_view Text() { return Take(Byte()); }

  std::string_view Take(std::size_t n) {
    const std::string_view taken = rest_.substr(0, n);
    rest_.remove_prefix(taken.size());
    return taken;
  }

  std::string_view Rest() {
    const std::string_view rest = rest_;
    rest_ = {};
    return rest;
  }

 private:
  std::string_view rest_;
};

}  // namespace tarveld::fuzz
