// rastertoZelvar: the CUPS filter's entry point (placeholder until the page loop lands).
#include <cstdio>

int main(int argc, char **) {
  if (argc != 6 && argc != 7) {
    puts("Usage: FILTER JOD_ID USERNAME DOC_TITLE COPIES OPTIONS [FILENAME]");
    return 1;
  }
  return 0;
}
