// zelvar-printer-app: the printer as an IPP Everywhere printer, on PAPPL's main
// loop and its usual sub-commands (server, add, delete, devices, drivers, submit,
// status, jobs, cancel, options, shutdown, ...) and web interface.
#include <signal.h>

#include "printer_app/pappl_driver.h"

// Read by LeakSanitizer in sanitizer builds, unused otherwise.  PAPPL 1.3's own
// leaks: papplMainloop keeps the options of its command line (built with
// cupsAddOption; the application adds no options itself) and never frees them,
// and an AppSocket device leaks its host name every time it is closed.
extern "C" const char *__lsan_default_suppressions() {
  return "leak:cupsAddOption\nleak:libpappl.so\n";
}

int main(int argc, char *argv[]) {
  // A filter that goes away while it is fed is a failed job, not a fatal signal.
  signal(SIGPIPE, SIG_IGN);
  return papplMainloop(argc, argv, ZELVAR_APP_VERSION, /*footer_html=*/nullptr,
                       static_cast<int>(sizeof zelvarapp::gDrivers / sizeof zelvarapp::gDrivers[0]),
                       zelvarapp::gDrivers, zelvarapp::AutoAddCallback, zelvarapp::DriverCallback,
                       /*subcmd_name=*/nullptr, /*subcmd_cb=*/nullptr, /*system_cb=*/nullptr,
                       /*usage_cb=*/nullptr, /*data=*/nullptr);
}
