#include "driver/job_options.h"

#include <strings.h>

#include <cstdio>
#include <cstring>

#include "runtime/debug_log.h"
#include "runtime/win_helpers.h"

int ParseJobOptions(const char *text, cups_option_t **options) {
  *options = nullptr;
  int num_options = cupsParseOptions(text, 0, options);
  num_options = cupsParseOptions(text, num_options, options);
  DbgMsg("num_options = %d", num_options);
  for (int i = 0; i < num_options; ++i)
    DbgMsg("option(%d): %s = %s", i, (*options)[i].name, (*options)[i].value);
  return num_options;
}

void GetJobOptions(int num_options, const cups_option_t *options, int *numUP, BOOL *bCollate) {
  *numUP = 1;
  *bCollate = FALSE;
  BOOL collateGiven = FALSE, collatedDocuments = FALSE;
  for (int i = 0; i < num_options; ++i) {
    const char *name = options[i].name;
    const char *value = options[i].value ? options[i].value : "";
    if (strcasecmp(name, "number-up") == 0) {
      *numUP = str2Int(value);
    } else if (strcasecmp(name, "Collate") == 0) {
      collateGiven = TRUE;
      if (strcasecmp(value, "true") == 0) *bCollate = TRUE;
    } else if (strcasecmp(name, "multiple-document-handling") == 0) {
      collatedDocuments = strcasecmp(value, "separate-documents-collated-copies") == 0;
    }
  }
  if (!collateGiven) *bCollate = collatedDocuments;
  DbgMsg("numUP = %d", *numUP);
  DbgMsg("bCollate = %d", *bCollate);
}

BOOL DriverDoesCollate(BOOL bCollate, const char *markedCollate, unsigned NumCopies) {
  BOOL asked = markedCollate != nullptr ? strcasecmp(markedCollate, "True") == 0 : bCollate == TRUE;
  DbgMsg("collation asked for: %d (%s)", asked,
         markedCollate != nullptr ? "the PPD's Collate choice" : "the option text");
  return asked && NumCopies >= 2 ? TRUE : FALSE;
}

void FindPrinterLocation(int num_dests, const cups_dest_t *dests, const char *queue, char *location,
                         size_t size) {
  if (size == 0) return;
  location[0] = '\0';
  for (int i = 0; i < num_dests; ++i) {
    DbgMsg("[%d]%s", i, dests[i].name);
    if (strcmp(dests[i].name, queue) != 0) continue;
    const char *value = cupsGetOption("printer-location", dests[i].num_options, dests[i].options);
    if (value && *value) {
      DbgMsg("location = %s", value);
      snprintf(location, size, "%s", value);
    }
  }
}

void GetPrinterLocation(const char *queue, char *location, size_t size) {
  cups_dest_t *dests = nullptr;
  int num_dests = cupsGetDests(&dests);
  DbgMsg("num_dests = %d", num_dests);
  FindPrinterLocation(num_dests, dests, queue, location, size);
  cupsFreeDests(num_dests, dests);
}
