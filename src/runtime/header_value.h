// The raw 32-bit number a raster page header field holds.
//
// Many header fields have an enum type (cups_bool_t, cups_orient_t, ...), but a
// job can put any 32-bit value in them, and loading a value outside the enum's
// range through the enum type is undefined behaviour.  Every read of such a
// field that looks at its value goes through RawHeaderValue.
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

template <typename Field>
inline uint32_t RawHeaderValue(const Field &field) {
  static_assert(sizeof(Field) == sizeof(uint32_t) && std::is_trivially_copyable_v<Field>,
                "raster header fields are 32-bit numbers");
  uint32_t value;
  memcpy(&value, &field, sizeof value);
  return value;
}
