// zelvar-test-backend: a CUPS backend for the end-to-end tests, a slow printer.
// It copies the job to the file named by its device URI (SCHEME:/PATH) 32 KB at
// a time with a pause of 20 ms after each piece (about 1.6 MB/s), so that the
// filter in front of it is usually waiting to write.  SIGTERM, which cupsd sends
// the backend of a cancelled job together with its filters, ends it at once
// and closes the filter's output.
//
//   zelvar-test-backend                       lists its device (CUPS discovery)
//   zelvar-test-backend JOB USER TITLE COPIES OPTIONS [FILE]
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char **argv) {
  if (argc == 1) {
    printf("direct zelvartest \"Unknown\" \"Zelvar test backend\"\n");
    return 0;
  }
  if (argc != 6 && argc != 7) {
    fprintf(stderr, "Usage: %s JOB USER TITLE COPIES OPTIONS [FILE]\n", argv[0]);
    return 1;
  }
  const char *uri = getenv("DEVICE_URI");
  const char *path = uri ? strchr(uri, ':') : nullptr;
  if (path == nullptr || path[1] != '/') {
    fprintf(stderr, "ERROR: DEVICE_URI \"%s\" names no file\n", uri ? uri : "");
    return 1;
  }
  ++path;
  const int in = argc == 7 ? open(argv[6], O_RDONLY) : 0;
  const int out = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (in < 0 || out < 0) {
    fprintf(stderr, "ERROR: %s: %s\n", in < 0 ? argv[6] : path, strerror(errno));
    return 1;
  }
  static char buffer[32768];
  for (;;) {
    ssize_t n = read(in, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      fprintf(stderr, "ERROR: reading the job: %s\n", strerror(errno));
      return 1;
    }
    if (n == 0) return 0;
    for (ssize_t done = 0; done < n;) {
      ssize_t w = write(out, buffer + done, static_cast<size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        fprintf(stderr, "ERROR: writing %s: %s\n", path, strerror(errno));
        return 1;
      }
      done += w;
    }
    usleep(20000);
  }
}
