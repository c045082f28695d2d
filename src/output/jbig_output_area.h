// The growing byte area a page's compressed stream is gathered in.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/win_types.h"

// A growing byte area: `size` bytes in use at `data`, `capacity` allocated;
// neither grows past `limit`.  It owns its block and frees it when it goes out of
// scope.
struct JbigOutputArea {
  BYTE *data = nullptr;
  size_t size = 0;
  size_t capacity = 0;
  size_t limit = SIZE_MAX;

  JbigOutputArea() = default;
  JbigOutputArea(const JbigOutputArea &) = delete;
  JbigOutputArea &operator=(const JbigOutputArea &) = delete;
  ~JbigOutputArea();
};

// Makes room for at least `capacity` bytes in all.  FALSE (area unchanged) when
// that is past the limit or memory is short.
BOOL ReserveOutputArea(JbigOutputArea *area, size_t capacity);
// Makes room for `extra` bytes after the `size` in use, growing geometrically
// (up to the limit) so that a long stream costs few copies.  FALSE (area
// unchanged) when that is past the limit or memory is short.
BOOL MakeRoomInOutputArea(JbigOutputArea *area, size_t extra);
// Appends `len` bytes, growing the area as needed.  FALSE (area unchanged) when
// the bytes would pass the limit or memory is short.
BOOL AppendToOutputArea(JbigOutputArea *area, const BYTE *bytes, size_t len);
