// Carves fuzz bytes into the pieces a target needs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class FuzzInput {
 public:
  FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  std::uint8_t Byte() { return size_ ? (--size_, *data_++) : 0; }
  // A UTF-16 text of up to max characters. Characters are drawn mostly from
  // a small alphabet, so that pieces of text actually meet.
  std::u16string Text(std::size_t max) {
    std::u16string out(Byte() % (max + 1), u'\0');
    static const char16_t alphabet[] = u"%1\"\\aAzZ.exe\u00C9\u00E9 ";
    for (char16_t& c : out) {
      const std::uint8_t b = Byte();
      c = b < 0xF0 ? alphabet[b % (sizeof alphabet / sizeof *alphabet - 1)]
                   : static_cast<char16_t>(Byte() | (Byte() << 8));
    }
    return out;
  }
  std::size_t left() const { return size_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
};
