#include "output/page_record.h"

#include <algorithm>
#include <cstring>

#include "image/bit_ops.h"
#include "output/jbig_compress.h"
#include "page/page.h"
#include "runtime/debug_log.h"
#include "runtime/page_settings.h"
#include "runtime/win_helpers.h"

// Rows in search order; every row is portrait (w below h).
const PAPERFORMAT PaperFormat[kPaperFormatCount] = {
    {612, 792, ENG_LETTER},  {612, 1008, ENG_LEGAL},   {792, 1224, ENG_DLT},
    {842, 1191, ENG_ISO_A3}, {595, 842, ENG_ISO_A4},   {420, 595, ENG_ISO_A5},
    {729, 1032, ENG_JIS_B4}, {516, 729, ENG_JIS_B5},   {363, 516, ENG_JIS_B6},
    {297, 420, ENG_ISO_A6},  {612, 936, ENG_FOOLSCAP}, {284, 419, ENG_POSTCARD},
    {396, 612, ENG_ST_LEF},  {757, 1106, ENG_8K},      {553, 757, ENG_16K},
};

const short MediaType[kMediaTypeCount] = {
    ENG_MEDIA_PLAIN,         // 0
    ENG_MEDIA_CARDSTOCK,     // 1
    ENG_MEDIA_THICK,         // 2
    ENG_MEDIA_LASER,         // 3
    ENG_MEDIA_BOND,          // 4
    ENG_MEDIA_TRANSPARENCY,  // 5
    ENG_MEDIA_THIN,          // 6
    ENG_MEDIA_ENVELOPE,      // 7
    ENG_MEDIA_POSTCARD,      // 8
    ENG_MEDIA_AUTO,          // 9
};

void PutDword(BYTE *p, DWORD v) {
  p[0] = static_cast<BYTE>(v);
  p[1] = static_cast<BYTE>(v >> 8);
  p[2] = static_cast<BYTE>(v >> 16);
  p[3] = static_cast<BYTE>(v >> 24);
}

BYTE PaperCodeFor(DWORD widthPt, DWORD heightPt) {
  for (const PAPERFORMAT &row : PaperFormat)
    if (static_cast<DWORD>(row.w) == widthPt && static_cast<DWORD>(row.h) == heightPt)
      return static_cast<BYTE>(row.paper_type);
  return ENG_PAPER_CUSTOMER;
}

BYTE MediaCodeFor(unsigned cupsMediaType) {
  if (cupsMediaType >= static_cast<unsigned>(kMediaTypeCount)) return kUnknownMediaCode;
  return static_cast<BYTE>(MediaType[cupsMediaType]);
}

BOOL PJL_WritePageHeader(const Page *page, BYTE *outbuf, DWORD CompressSize, DWORD blackDots) {
  const cups_page_header2_t &h = page->inheader;
  const PageSettings settings = PageSettingsOf(h);
  PageHeader ph;
  ph.idf[0] = 'G';
  ph.idf[1] = 'D';
  ph.idf[2] = 'I';
  ph.idf[3] = 0;
  ph.page_width = page->page_width;
  ph.page_height = page->page_height;
  ph.datasize = page->linebyte * page->page_height;
  ph.compsize = CompressSize;
  ph.blackDots = blackDots;
  ph.paper_type = PaperCodeFor(h.PageSize[0], h.PageSize[1]);
  if (settings.mediaType >= static_cast<unsigned>(kMediaTypeCount))
    DbgMsg("PJL_WritePageHeader::unknown cupsMediaType %u, plain paper sent", settings.mediaType);
  ph.MediaType = MediaCodeFor(settings.mediaType);
  ph.MediaPosition = settings.tray == kAnyTray ? 0 : static_cast<BYTE>(settings.tray & 0xFF);
  ph.OutBin = 0;
  ph.Bits = 1;
  ph.Colors = settings.twoColour ? 2 : 1;
  ph.ColorMode = settings.colourMode ? 1 : 0;
  ph.CompMethod = 1;
  DbgMsg(
      "PJL_WritePageHeader::page %u: %ux%u pixels, datasize %u, compsize %u, blackDots %u, paper "
      "%d, media %d, tray %d",
      page->PageIndex, ph.page_width, ph.page_height, ph.datasize, ph.compsize, ph.blackDots,
      ph.paper_type, ph.MediaType, ph.MediaPosition);

  BYTE *p = outbuf;
  for (BYTE b : ph.idf) *p++ = b;
  for (DWORD v : {ph.page_width, ph.page_height, ph.datasize, ph.compsize, ph.blackDots}) {
    PutDword(p, v);
    p += 4;
  }
  for (BYTE b : {ph.paper_type, ph.MediaType, ph.MediaPosition, ph.OutBin, ph.Bits, ph.Colors,
                 ph.ColorMode, ph.CompMethod})
    *p++ = b;
  return TRUE;
}

BOOL BuildPageRecord(const Page &page, JbigOutputArea *record) {
  BYTE *bitmap = page.lpbuf;
  const size_t ByteNo = BitmapBytes(page);
  // The page header gives the data's length in 32 bits: the area never grows past
  // that, so a page whose stream could not be sent fails without taking the memory.
  record->limit = kPageRecordPrefix + 0xFFFFFFFFu;
  // The bitmap's size is what the stream usually stays well below; the area grows
  // for a page that compresses badly.
  if (!ReserveOutputArea(record, std::min(ByteNo + kPageRecordPrefix, record->limit))) return FALSE;
  record->size = 0;
  BYTE prefix[kPageRecordPrefix] = {};
  AppendToOutputArea(record, prefix, sizeof prefix);

  const DWORD blackDots = Prnt_CountBlackDots(bitmap, static_cast<long>(ByteNo));
  const DWORD tick = GetTickCount();
  const double cpuStart = ThreadCpuSeconds();
  int64_t TotalOutLen = 0, OutJBGDataTimes = 0;
  const int64_t CompressSize =
      Ferrun_JBIGCompression(page.page_width, page.page_height, bitmap, record, &TotalOutLen,
                             &OutJBGDataTimes, kJbigOrder, kJbigOptions, 1);
  DbgMsg("BuildPageRecord::page %u Finish, using %f sec, cpu %f sec, %lld bytes", page.PageIndex,
         (GetTickCount() - tick) / 1000.0, ThreadCpuSeconds() - cpuStart,
         static_cast<long long>(CompressSize));
  if (CompressSize < 0 || CompressSize > 0xFFFFFFFF) return FALSE;

  memcpy(record->data, kPageRecordStart, sizeof kPageRecordStart);
  PJL_WritePageHeader(&page, record->data + sizeof kPageRecordStart,
                      static_cast<DWORD>(CompressSize), blackDots);
  return TRUE;
}
