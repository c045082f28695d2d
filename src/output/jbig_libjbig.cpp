#include "output/jbig_libjbig.h"

// The library's header declares C functions without saying so.
extern "C" {
#include <jbig.h>
}

namespace {

// The state of one compression, handed to the library as its output context.
struct LibjbigContext {
  JbigOutputArea *area;
  int64_t TotalOutLen;      // bytes appended to the area
  int64_t OutJBGDataTimes;  // pieces received
  int64_t RemoveHeader;     // non-zero: drop the first piece
  BOOL outOfMemory;         // a piece could not be stored
};

}  // namespace

void OutJBIGData(unsigned char *start, size_t len, void *outBuf) {
  LibjbigContext *ctx = static_cast<LibjbigContext *>(outBuf);
  ++ctx->OutJBGDataTimes;
  // The library delivers the image header as its first piece, alone.
  if (ctx->RemoveHeader && ctx->OutJBGDataTimes == 1) return;
  if (ctx->outOfMemory) return;
  if (!AppendToOutputArea(ctx->area, start, len)) {
    ctx->outOfMemory = TRUE;
    return;
  }
  ctx->TotalOutLen += static_cast<int64_t>(len);
}

int64_t LibjbigCompress(uint32_t width, uint32_t height, BYTE *inbuf, JbigOutputArea *outbuf,
                        int64_t *OutJBGDataTimes, int64_t order, int64_t options,
                        int64_t RemoveHeader) {
  size_t startSize = outbuf->size;
  LibjbigContext ctx = {outbuf, 0, 0, RemoveHeader, FALSE};
  unsigned char *planes[1] = {inbuf};
  struct jbg_enc_state state;
  jbg_enc_init(&state, width, height, 1, planes, OutJBIGData, &ctx);
  jbg_enc_layers(&state, 0);
  jbg_enc_options(&state, static_cast<int>(order), static_cast<int>(options), height, 0, 0);
  jbg_enc_out(&state);
  jbg_enc_free(&state);

  if (OutJBGDataTimes) *OutJBGDataTimes = ctx.OutJBGDataTimes;
  if (ctx.outOfMemory) {
    outbuf->size = startSize;
    return -1;
  }
  return ctx.TotalOutLen;
}
