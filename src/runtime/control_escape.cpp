#include "runtime/control_escape.h"

#include <cstdio>
#include <cstring>

size_t EscapeControls(const char *text, char *out, size_t room) {
  size_t n = 0;
  for (const char *p = text; *p; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    char esc[5];
    size_t k;
    if (c >= 0x20 || c == '\t') {
      esc[0] = static_cast<char>(c);
      k = 1;
    } else if (c == '\n' || c == '\r') {
      esc[0] = '\\';
      esc[1] = c == '\n' ? 'n' : 'r';
      k = 2;
    } else {
      snprintf(esc, sizeof esc, "\\x%02X", c);
      k = 4;
    }
    if (n + k > room) break;
    memcpy(out + n, esc, k);
    n += k;
  }
  out[n] = '\0';
  return n;
}
