// Stand-in until the PJL framing lands: writes nothing.
#include "output/pjl_framing.h"

BOOL PJL_WriteStartJobCmd_Zelvar(const cups_page_header2_t *, int, const char *, const char *,
                                 const char *, const char *, BOOL, const char *) {
  return TRUE;
}
BOOL PJL_WriteCloseJobCmd(const cups_page_header2_t *) { return TRUE; }
