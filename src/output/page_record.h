// The page record: ESC E, a 32-byte PageHeader describing the page, and the
// page's compressed bitmap.  Every number is little-endian.
#pragma once

#include <cstddef>

#include "runtime/win_types.h"

struct JbigOutputArea;
struct Page;

// Paper codes of the printer.
enum EngPaperCode {
  ENG_INVALID = 0,
  ENG_ISO_A3 = 1,
  ENG_ISO_A4 = 2,
  ENG_ISO_A5 = 3,
  ENG_ISO_A6 = 4,
  ENG_ISO_B4 = 5,
  ENG_ISO_B5 = 6,
  ENG_ISO_B6 = 7,
  ENG_ISO_C4 = 8,
  ENG_ISO_C5 = 9,
  ENG_ISO_C6 = 10,
  ENG_JIS_B4 = 11,
  ENG_JIS_B5 = 12,
  ENG_JIS_B6 = 13,
  ENG_ST = 14,
  ENG_LETTER = 15,
  ENG_LEGAL = 16,
  ENG_FOOLSCAP = 17,
  ENG_FOLIO = 18,
  ENG_TABLOID = 19,
  ENG_EXECUTIVE = 20,
  ENG_COM6 = 21,
  ENG_MONARCH = 22,
  ENG_COM9 = 23,
  ENG_COM10 = 24,
  ENG_DL = 25,
  ENG_JIS_HAGAKI = 26,
  ENG_JIS_OUFUKI = 27,
  ENG_POSTCARD = 28,
  ENG_BUSINESS = 29,
  ENG_DLT = 30,
  ENG_8K = 31,
  ENG_16K = 32,
  ENG_YOUKEI2 = 33,
  ENG_YOUKEI4 = 34,
  ENG_A3WIDE = 35,
  ENG_A4WIDE = 36,
  ENG_RESERVED_1 = 37,
  ENG_RESERVED_2 = 38,
  ENG_RESERVED_3 = 39,
  ENG_AUTO = 40,
  ENG_PAPER_CUSTOMER = 96,
  ENG_UNKNOWN = 128,
  ENG_ISO_A3_LEF = 129,
  ENG_ISO_A4_LEF = 130,
  ENG_ISO_A5_LEF = 131,
  ENG_ISO_A6_LEF = 132,
  ENG_ISO_B4_LEF = 133,
  ENG_ISO_B5_LEF = 134,
  ENG_ISO_B6_LEF = 135,
  ENG_ISO_C4_LEF = 136,
  ENG_ISO_C5_LEF = 137,
  ENG_ISO_C6_LEF = 138,
  ENG_JIS_B4_LEF = 139,
  ENG_JIS_B5_LEF = 140,
  ENG_JIS_B6_LEF = 141,
  ENG_ST_LEF = 142,
  ENG_LETTER_LEF = 143,
  ENG_LEDGER = 147,
  ENG_POSTCARD_LEF = 156,
  ENG_16K_LEF = 160,
  ENG_A3WIDE_LEF = 163,
  ENG_A4WIDE_LEF = 164,
};

// Media codes of the printer.
enum EngMediaCode {
  ENG_MEDIA_AUTO = 0,
  ENG_MEDIA_CARDSTOCK = 1,
  ENG_MEDIA_TRANSPARENCY = 2,
  ENG_MEDIA_ENVELOPE = 3,
  ENG_MEDIA_LETTERHEAD = 4,
  ENG_MEDIA_POSTCARD = 5,
  ENG_MEDIA_LABELS = 6,
  ENG_MEDIA_COATED = 7,
  ENG_MEDIA_PLAIN = 8,
  ENG_MEDIA_PREPRINTED = 9,
  ENG_MEDIA_BOND = 10,
  ENG_MEDIA_RECYCLED = 11,
  ENG_MEDIA_VELLUM = 12,
  ENG_MEDIA_ROUGH = 13,
  ENG_MEDIA_COLOR = 14,
  ENG_MEDIA_PREPUNCHED = 15,
  ENG_MEDIA_2NDSIDE = 16,
  ENG_MEDIA_THICK = 17,
  ENG_MEDIA_HIGHQUALITY = 18,
  ENG_MEDIA_THIN = 19,
  ENG_MEDIA_LASER = 20,
  ENG_MEDIA_CUSTOM3 = 21,
  ENG_MEDIA_XRAY = 22,
  ENG_MEDIA_CUSTOM5 = 23,
  ENG_MEDIA_CUSTOM6 = 24,
  ENG_MEDIA_CUSTOM7 = 25,
  ENG_MEDIA_CUSTOM8 = 26,
  ENG_MEDIA_CUSTOM2 = 27,
};

// A sheet size in points (portrait) and its paper code.
struct PAPERFORMAT {
  short w;
  short h;
  short paper_type;
};

constexpr int kPaperFormatCount = 15;
constexpr int kMediaTypeCount = 10;
extern const PAPERFORMAT PaperFormat[kPaperFormatCount];
// Media codes by the raster header's cupsMediaType (0..9).
extern const short MediaType[kMediaTypeCount];
// The code sent for a cupsMediaType with no entry in MediaType: plain paper, the
// same as the queue's default media (entry 0).
constexpr BYTE kUnknownMediaCode = ENG_MEDIA_PLAIN;

// The 32 header bytes in field order; PJL_WritePageHeader writes them little-endian.
struct PageHeader {
  BYTE idf[4];  // "GDI" and a zero byte
  DWORD page_width;
  DWORD page_height;
  DWORD datasize;  // linebyte x page_height
  DWORD compsize;  // compressed bytes after the header
  DWORD blackDots;
  BYTE paper_type;
  BYTE MediaType;
  BYTE MediaPosition;
  BYTE OutBin;
  BYTE Bits;
  BYTE Colors;
  BYTE ColorMode;
  BYTE CompMethod;
};
static_assert(sizeof(PageHeader) == 32, "the page header has no gaps");

constexpr size_t kPageHeaderSize = 32;
// ESC E and the PageHeader in front of the compressed data.
constexpr size_t kPageRecordPrefix = 2 + kPageHeaderSize;
constexpr BYTE kPageRecordStart[2] = {0x1B, 0x45};

// Paper code for a sheet of w x h points (ENG_PAPER_CUSTOMER when no row matches).
BYTE PaperCodeFor(DWORD widthPt, DWORD heightPt);
// Media code for the raster header's cupsMediaType.
BYTE MediaCodeFor(unsigned cupsMediaType);

// Stores `v` at `p` in little-endian byte order.
void PutDword(BYTE *p, DWORD v);

// Fills the PageHeader for the page and writes its 32 bytes at outbuf.
BOOL PJL_WritePageHeader(const Page *page, BYTE *outbuf, DWORD CompressSize, DWORD blackDots);

// Builds the record of the finished 1-bit page in `record`: ESC E, the PageHeader
// and the JBIG stream.  FALSE when the page cannot be encoded or memory runs
// short; the record is then not to be written.
BOOL BuildPageRecord(const Page &page, JbigOutputArea *record);
