// The job's settings from the command line and the CUPS destinations: the option
// text ("number-up", "Collate", "multiple-document-handling") and the queue's
// "printer-location".
#pragma once

#include <cups/cups.h>

#include <cstddef>

#include "runtime/win_types.h"

// Parses the option text into a new list (the text is parsed twice into the same
// list, which leaves each option once) and logs every option.  Returns the option
// count; the caller frees the list with cupsFreeOptions.
int ParseJobOptions(const char *text, cups_option_t **options);

// "number-up" gives numUP (1 when absent, the digits at the start of the value
// otherwise).  bCollate tells whether the text asks for collated copies: a
// "Collate" option decides by its value ("true" sets it); without one, IPP's
// "multiple-document-handling" does (separate-documents-collated-copies sets
// it).  Names and "true" are compared without regard to case.
void GetJobOptions(int num_options, const cups_option_t *options, int *numUP, BOOL *bCollate);

// TRUE when the filter itself must make collated copies: collation asked for and
// at least two copies on the first page.  markedCollate is the queue PPD's
// marked "Collate" choice once its defaults and the job's options are marked:
// libcups maps every form a client sends ("Collate", "collate",
// "multiple-document-handling") onto it and it carries the queue's default, so
// it decides when there is one ("True" without regard to case asks for
// collation).  Without a PPD or a "Collate" option in it, markedCollate is null
// and bCollate, from the option text, decides.
BOOL DriverDoesCollate(BOOL bCollate, const char *markedCollate, unsigned NumCopies);

// The "printer-location" of the destinations named exactly `queue` (the last
// non-empty one when there are instances), cut to fit `size`; empty when none.
void FindPrinterLocation(int num_dests, const cups_dest_t *dests, const char *queue, char *location,
                         size_t size);
// The same, over the CUPS destinations the system knows.
void GetPrinterLocation(const char *queue, char *location, size_t size);
