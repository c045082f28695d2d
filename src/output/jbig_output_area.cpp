#include "output/jbig_output_area.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

JbigOutputArea::~JbigOutputArea() { free(data); }

BOOL ReserveOutputArea(JbigOutputArea *area, size_t capacity) {
  if (capacity <= area->capacity) return TRUE;
  if (capacity > area->limit) return FALSE;
  BYTE *grown = static_cast<BYTE *>(realloc(area->data, capacity));
  if (grown == nullptr) return FALSE;
  area->data = grown;
  area->capacity = capacity;
  return TRUE;
}

BOOL MakeRoomInOutputArea(JbigOutputArea *area, size_t extra) {
  if (extra > SIZE_MAX - area->size) return FALSE;
  size_t need = area->size + extra;
  if (need > area->limit) return FALSE;
  if (need <= area->capacity) return TRUE;
  size_t cap = area->capacity < 4096 ? 4096 : area->capacity;
  while (cap < need) cap = cap > SIZE_MAX / 2 ? need : cap * 2;
  if (cap > area->limit) cap = area->limit;
  return ReserveOutputArea(area, cap) || ReserveOutputArea(area, need);
}

BOOL AppendToOutputArea(JbigOutputArea *area, const BYTE *bytes, size_t len) {
  if (!MakeRoomInOutputArea(area, len)) return FALSE;
  if (len > 0) memcpy(area->data + area->size, bytes, len);
  area->size += len;
  return TRUE;
}
