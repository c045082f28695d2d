#include "output/jbig_compress.h"

// The library's header declares C functions without saying so.
extern "C" {
#include <jbig.h>
}

#include <cstdlib>
#include <cstring>

#include "runtime/debug_log.h"

// The state of one compression, handed to the encoder as its output context.
struct JbigCompressContext {
  JbigOutputArea *area;
  int64_t TotalOutLen;      // bytes appended to the area
  int64_t OutJBGDataTimes;  // pieces received
  int64_t RemoveHeader;     // non-zero: drop the first piece
  BOOL outOfMemory;         // a piece could not be stored
};

JbigOutputArea::~JbigOutputArea() { free(data); }

BOOL ReserveOutputArea(JbigOutputArea *area, size_t capacity) {
  if (capacity <= area->capacity) return TRUE;
  BYTE *grown = static_cast<BYTE *>(realloc(area->data, capacity));
  if (grown == nullptr) return FALSE;
  area->data = grown;
  area->capacity = capacity;
  return TRUE;
}

BOOL AppendToOutputArea(JbigOutputArea *area, const BYTE *bytes, size_t len) {
  if (len > SIZE_MAX - area->size) return FALSE;
  size_t need = area->size + len;
  if (need > area->capacity) {
    // Grow geometrically so a long stream costs few copies.
    size_t cap = area->capacity < 4096 ? 4096 : area->capacity;
    while (cap < need) cap = cap > SIZE_MAX / 2 ? need : cap * 2;
    if (!ReserveOutputArea(area, cap) && !ReserveOutputArea(area, need)) return FALSE;
  }
  if (len > 0) memcpy(area->data + area->size, bytes, len);
  area->size = need;
  return TRUE;
}

void OutJBIGData(unsigned char *start, size_t len, void *outBuf) {
  JbigCompressContext *ctx = static_cast<JbigCompressContext *>(outBuf);
  ++ctx->OutJBGDataTimes;
  // The encoder delivers the image header as its first piece, alone.
  if (ctx->RemoveHeader && ctx->OutJBGDataTimes == 1) return;
  if (ctx->outOfMemory) return;
  if (!AppendToOutputArea(ctx->area, start, len)) {
    ctx->outOfMemory = TRUE;
    return;
  }
  ctx->TotalOutLen += static_cast<int64_t>(len);
}

int64_t Ferrun_JBIGCompression(uint64_t width, uint64_t height, BYTE *inbuf, JbigOutputArea *outbuf,
                               int64_t *TotalOutLen, int64_t *OutJBGDataTimes, int64_t order,
                               int64_t options, int64_t RemoveHeader) {
  if (TotalOutLen) *TotalOutLen = 0;
  if (OutJBGDataTimes) *OutJBGDataTimes = 0;
  // The image header holds width and height as 32-bit numbers, and the encoder
  // cannot take an empty image.
  if (inbuf == nullptr || outbuf == nullptr || width == 0 || height == 0 || width > 0xFFFFFFFFu ||
      height > 0xFFFFFFFFu) {
    DbgMsg("Ferrun_JBIGCompression::page %llu x %llu not encoded",
           static_cast<unsigned long long>(width), static_cast<unsigned long long>(height));
    return -1;
  }

  size_t startSize = outbuf->size;
  JbigCompressContext ctx = {outbuf, 0, 0, RemoveHeader, FALSE};
  unsigned char *planes[1] = {inbuf};
  struct jbg_enc_state state;
  jbg_enc_init(&state, static_cast<unsigned long>(width), static_cast<unsigned long>(height), 1,
               planes, OutJBIGData, &ctx);
  jbg_enc_layers(&state, 0);
  jbg_enc_options(&state, static_cast<int>(order), static_cast<int>(options),
                  static_cast<unsigned long>(height), 0, 0);
  jbg_enc_out(&state);
  jbg_enc_free(&state);

  if (OutJBGDataTimes) *OutJBGDataTimes = ctx.OutJBGDataTimes;
  if (ctx.outOfMemory) {
    DbgMsg("Ferrun_JBIGCompression::out of memory after %lld bytes",
           static_cast<long long>(ctx.TotalOutLen));
    outbuf->size = startSize;
    return -1;
  }
  if (TotalOutLen) *TotalOutLen = ctx.TotalOutLen;
  return ctx.TotalOutLen;
}
