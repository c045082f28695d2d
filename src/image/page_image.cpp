#include "image/page_image.h"

#include "image/bit_ops.h"
#include "image/crop_scale.h"
#include "image/halftone.h"
#include "image/line_art.h"
#include "page/page.h"
#include "runtime/debug_log.h"
#include "runtime/page_settings.h"
#include "runtime/status_messages.h"

bool TakesLineArtPath(const cups_page_header2_t &header) { return PageSettingsOf(header).lineArt; }

BOOL ProcessPageImage(Page *page) {
  const PageSettings settings = PageSettingsOf(page->inheader);
  BOOL asAsked = TRUE;
  if (settings.lineArt) {
    // Line art: fitted to the printable area, screened with solid outlines, and
    // inverted so that a set bit is a printed dot.  Without memory for the fitting
    // or the line art the page still leaves as a valid 1-bit page, but not as
    // asked.
    DbgMsg("ProcessPageImage::page %u takes the line-art path", page->PageIndex);
    const BOOL fitted = ImageCrop(page);
    const BOOL lineArt = DoBorderQuality(page);
    DoNegative(page, 0);
    if (!fitted || !lineArt) {
      ReportError("Not enough memory to process page %u", page->PageIndex + 1);
      asAsked = FALSE;
    }
  } else {
    // Halftone: the screen alone, at the padded size; the screen sets its bit on
    // light pixels, so it is inverted like the line art.
    ApplyHalftone(page);
    DoNegative(page, 0);
  }
  if (settings.mirror) DoMirror(page);
  // Negative print; in two-colour mode only the black plane, the first half.
  if (settings.invert) DoNegative(page, settings.twoColour ? 1 : 0);
  return asAsked;
}
