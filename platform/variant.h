// Byte arrays and the variant values the hosted controls exchange.
#ifndef VORNE_PLATFORM_VARIANT_H
#define VORNE_PLATFORM_VARIANT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vorne {

using VARTYPE = std::uint16_t;
inline constexpr VARTYPE VT_EMPTY = 0;
inline constexpr VARTYPE VT_I2 = 2;
inline constexpr VARTYPE VT_I4 = 3;
inline constexpr VARTYPE VT_BSTR = 8;
inline constexpr VARTYPE VT_BOOL = 11;
inline constexpr VARTYPE VT_VARIANT = 12;
inline constexpr VARTYPE VT_UI1 = 17;
inline constexpr VARTYPE VT_ARRAY = 0x2000;

// A growable byte array.
class CByteArray {
 public:
  void SetSize(std::size_t size) { bytes_.resize(size); }
  std::size_t GetSize() const { return bytes_.size(); }
  std::uint8_t* GetData() { return bytes_.data(); }
  const std::uint8_t* GetData() const { return bytes_.data(); }
  std::uint8_t& operator[](std::size_t i) { return bytes_[i]; }
  std::uint8_t operator[](std::size_t i) const { return bytes_[i]; }

 private:
  std::vector<std::uint8_t> bytes_;
};

// A tagged value: a 16/32-bit integer, a boolean, a string, or a
// one-dimensional array of unsigned bytes (vt == VT_ARRAY | VT_UI1).
struct VARIANT {
  VARTYPE vt = VT_EMPTY;
  std::int32_t intVal = 0;          // VT_I2, VT_I4; VT_BOOL: 0 or -1
  std::u16string bstrVal;           // VT_BSTR
  std::vector<std::uint8_t> bytes;  // VT_ARRAY | VT_UI1
};

// Empties a variant; its storage is kept for the next value.
void VariantClear(VARIANT* value);

// A variant that can be made from a byte array.
class COleVariant : public VARIANT {
 public:
  COleVariant() = default;
  COleVariant& operator=(const CByteArray& array);
};

}  // namespace vorne

#endif
