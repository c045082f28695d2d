// rastertoZelvar: the CUPS filter's entry point.
#include <signal.h>

#include "driver/filter_entry.h"

int main(int argc, char *argv[]) {
  // A printer connection that goes away is a write error, not a fatal signal.
  signal(SIGPIPE, SIG_IGN);
  return FilterMain(argc, argv);
}
