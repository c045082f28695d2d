// The PJL job around the page records: cancel preamble, header block, trailer.
#pragma once

#include <cups/raster.h>

#include "runtime/win_types.h"

BOOL PJL_WriteStartJobCmd_Zelvar(const cups_page_header2_t *inheader, int numUP,
                                 const char *PrinterName, const char *UserName,
                                 const char *DocName, const char *argvCopies,
                                 BOOL bDriverDoCollate, const char *PrinterLocation);
BOOL PJL_WriteCloseJobCmd(const cups_page_header2_t *inheader);
