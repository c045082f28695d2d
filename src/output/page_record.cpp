#include "output/page_record.h"

#include "driver/job_state.h"
#include "runtime/debug_log.h"
#include "runtime/page_settings.h"

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

namespace {

constexpr DWORD kAutoSelectTray = 250;  // MediaPosition meaning "any tray"

}  // namespace

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

BOOL PJL_WritePageHeader(const JobInfo *lpJob, BYTE *outbuf, DWORD CompressSize, DWORD blackDots) {
  const cups_page_header2_t &h = lpJob->inheader;
  PageHeader ph;
  ph.idf[0] = 'G';
  ph.idf[1] = 'D';
  ph.idf[2] = 'I';
  ph.idf[3] = 0;
  ph.page_width = lpJob->page_width;
  DbgMsg("PJL_WritePageHeader::width = %u", ph.page_width);
  ph.page_height = lpJob->page_height;
  DbgMsg("PJL_WritePageHeader::height = %u", ph.page_height);
  ph.datasize = lpJob->linebyte * lpJob->page_height;
  DbgMsg("PJL_WritePageHeader::datasize = %u", ph.datasize);
  DbgMsg("PJL_WritePageHeader::linebyte = %u", lpJob->linebyte);
  ph.compsize = CompressSize;
  DbgMsg("PJL_WritePageHeader::compsize = %u", ph.compsize);
  ph.blackDots = blackDots;
  DbgMsg("PJL_WritePageHeader::blackDots = %u", ph.blackDots);
  ph.paper_type = PaperCodeFor(h.PageSize[0], h.PageSize[1]);
  DbgMsg("paper_type = %d", ph.paper_type);
  if (h.cupsMediaType >= static_cast<unsigned>(kMediaTypeCount))
    DbgMsg("PJL_WritePageHeader::unknown cupsMediaType %u, plain paper sent", h.cupsMediaType);
  ph.MediaType = MediaCodeFor(h.cupsMediaType);
  DbgMsg("MediaType = %d", ph.MediaType);
  ph.MediaPosition =
      h.MediaPosition == kAutoSelectTray ? 0 : static_cast<BYTE>(h.MediaPosition & 0xFF);
  DbgMsg("MediaPosition = %d", ph.MediaPosition);
  ph.OutBin = 0;
  ph.Bits = 1;
  const PageSettings settings = PageSettingsOf(h);
  ph.Colors = settings.twoColour ? 2 : 1;
  ph.ColorMode = settings.colourMode ? 1 : 0;
  ph.CompMethod = 1;

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
