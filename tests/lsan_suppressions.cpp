// LeakSanitizer suppressions for the test binary.
//
// libcups 2.4 builds a PPD cache the first time cupsMarkOptions maps IPP options
// (media, sides, print-color-mode) and, for a PPD with a Duplex option, never
// frees the four strings it duplicates for the sides mapping, whatever the
// caller does.  Anything that marks job options on such a PPD under
// AddressSanitizer reports those 40 bytes; they are libcups's, not ours.
extern "C" const char *__lsan_default_suppressions() { return "leak:_ppdCacheCreateWithPPD\n"; }
