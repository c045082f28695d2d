// rastertoZelvar: the CUPS filter's entry point.
#include <signal.h>

#include "driver/filter_entry.h"
#include "runtime/cancel_signal.h"

// Read by LeakSanitizer in sanitizer builds, unused otherwise.  libcups 2.4
// builds a PPD cache the first time cupsMarkOptions maps IPP options and, for a
// PPD with a Duplex option, never frees the strings it duplicates for the sides
// mapping.  Those bytes are libcups's; without this the leak check would end
// every job printed through a real queue with status 1.
extern "C" const char *__lsan_default_suppressions() { return "leak:_ppdCacheCreateWithPPD\n"; }

int main(int argc, char *argv[]) {
  // A printer connection that goes away is a write error, not a fatal signal.
  signal(SIGPIPE, SIG_IGN);
  // A cancelled or held job ends its printer job cleanly instead of dying.
  InstallCancelHandler();
  return FilterMain(argc, argv);
}
