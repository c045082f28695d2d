#include "job_parser.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace inspect {

namespace {

constexpr std::string_view kCancel(
    "\x1b"
    "E\x1b%-12345X@PJL CANCEL\r\n@PJL EOJ\r\n\x1b%-12345X");
constexpr size_t kCancelPadding = 512;
constexpr std::string_view kUel("\x1b%-12345X");
constexpr std::string_view kPageStart(
    "\x1b"
    "EGDI\0",
    6);
constexpr std::string_view kEndOfJob(
    "\x1b"
    "E\x1b%-12345X@PJL\r\n");
constexpr std::string_view kAlignment("@PJL COMMENT DATA ALIGNMENT 512\r\n");
constexpr std::string_view kFinalBlock(
    "@PJL SET TIMEOUT=5\r\n@PJL               EOJ\r\n\x1b%-12345X");
constexpr size_t kLineMax = 255;  // CR LF included
constexpr size_t kBlockMax = 1023;

// What a header line must look like, in block order.
enum class Rule {
  kExact,    // the line is `text`
  kJobName,  // @PJL JOB NAME="<number>"
  kSetting,  // @PJL SET <text>=<value from `values`>
  kComment,  // @PJL COMMENT <text><anything>, stored in `field`
  kDate,     // @PJL COMMENT y/m/d
  kTime,     // @PJL COMMENT h:m:s
  kJbig,     // @PJL COMMENT JBIG,00,%2d
};

struct LineRule {
  Rule rule;
  const char *text;
  // kSetting: "#" a number, "*" any word, else allowed values separated by '|'.
  const char *values;
  std::string HeaderComments::*field;
};

const LineRule kHeaderRules[] = {
    {Rule::kExact, "@PJL", nullptr, nullptr},
    {Rule::kJobName, nullptr, nullptr, nullptr},
    {Rule::kSetting, "TIMEOUT", "#", nullptr},
    {Rule::kExact, "@PJL COMMENT 0, 0, 1, 35", nullptr, nullptr},
    {Rule::kComment, "", nullptr, &HeaderComments::title},
    {Rule::kComment, "", nullptr, &HeaderComments::user},
    {Rule::kComment, "", nullptr, &HeaderComments::host},
    {Rule::kComment, "", nullptr, &HeaderComments::queue},
    {Rule::kExact, "@PJL COMMENT Unknown", nullptr, nullptr},
    {Rule::kExact, "@PJL COMMENT ", nullptr, nullptr},
    {Rule::kDate, nullptr, nullptr, &HeaderComments::date},
    {Rule::kTime, nullptr, nullptr, &HeaderComments::time},
    {Rule::kJbig, nullptr, nullptr, nullptr},
    {Rule::kComment, "Copies,", nullptr, &HeaderComments::copies},
    {Rule::kComment, "", nullptr, &HeaderComments::location},
    {Rule::kSetting, "JOBNAME", "\"CUPS\"", nullptr},
    {Rule::kSetting, "ECONOMODE", "ON|OFF", nullptr},
    {Rule::kSetting, "DENSITY", "#", nullptr},
    {Rule::kSetting, "AUTOSELECT", "ON|OFF", nullptr},
    {Rule::kSetting, "DUPLEX", "ON|OFF", nullptr},
    {Rule::kSetting, "DUPLEXTYPE", "CALENDAR|BOOKLET", nullptr},
    {Rule::kSetting, "RESOLUTION", "#", nullptr},
    {Rule::kSetting, "COPIES", "#", nullptr},
    {Rule::kSetting, "MEDIASOURCE", "*", nullptr},
    {Rule::kSetting, "JUSTIFIED", "*", nullptr},
    {Rule::kSetting, "MIRROR", "ON|OFF", nullptr},
    {Rule::kSetting, "MARGINS", "*", nullptr},
    {Rule::kSetting, "BIDICOMM", "ON|OFF", nullptr},
    {Rule::kSetting, "ORIENTATION", "LANDSCAPE|PORTRAIT", nullptr},
    {Rule::kExact, "@PJL ENTER LANGUAGE=VLGDI", nullptr, nullptr},
};

struct Cursor {
  std::span<const uint8_t> bytes;
  ParsedJob *job;
};

bool Fail(Cursor *c, size_t offset, const char *format, ...) __attribute__((format(printf, 3, 4)));
bool Fail(Cursor *c, size_t offset, const char *format, ...) {
  char text[512];
  va_list ap;
  va_start(ap, format);
  vsnprintf(text, sizeof text, format, ap);
  va_end(ap);
  c->job->ok = false;
  c->job->error_offset = offset;
  c->job->error = text;
  return false;
}

bool StartsWith(std::span<const uint8_t> bytes, size_t pos, std::string_view what) {
  return pos <= bytes.size() && bytes.size() - pos >= what.size() &&
         memcmp(bytes.data() + pos, what.data(), what.size()) == 0;
}

// Offset of the first occurrence of `what` at or after `from`, or npos.
size_t Find(std::span<const uint8_t> bytes, size_t from, std::string_view what) {
  std::string_view hay(reinterpret_cast<const char *>(bytes.data()), bytes.size());
  return hay.find(what, from);
}

uint32_t ReadLe32(const uint8_t *p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

bool IsNumber(std::string_view s) {
  if (!s.empty() && s[0] == '-') s.remove_prefix(1);
  if (s.empty()) return false;
  for (char ch : s)
    if (ch < '0' || ch > '9') return false;
  return true;
}

// "a<sep>b<sep>c" with three unsigned numbers.
bool IsNumberTriple(std::string_view s, char sep) {
  for (int part = 0; part < 3; ++part) {
    size_t end = part < 2 ? s.find(sep) : s.size();
    if (end == std::string_view::npos) return false;
    std::string_view num = s.substr(0, end);
    if (num.empty() || num[0] == '-' || !IsNumber(num)) return false;
    s.remove_prefix(part < 2 ? end + 1 : end);
  }
  return true;
}

bool ValueAllowed(std::string_view value, const char *values) {
  if (strcmp(values, "#") == 0) return IsNumber(value);
  if (strcmp(values, "*") == 0) return !value.empty() && value.find(' ') == std::string_view::npos;
  std::string_view list(values);
  while (!list.empty()) {
    size_t bar = list.find('|');
    std::string_view one = list.substr(0, bar);
    if (value == one) return true;
    if (bar == std::string_view::npos) break;
    list.remove_prefix(bar + 1);
  }
  return false;
}

// Checks one header line against its rule and records what it carries.
bool CheckHeaderLine(Cursor *c, const LineRule &r, int number, const HeaderLine &line) {
  ParsedJob *job = c->job;
  std::string_view s(line.text);
  constexpr std::string_view kComment("@PJL COMMENT ");
  constexpr std::string_view kSet("@PJL SET ");
  switch (r.rule) {
    case Rule::kExact:
      if (s == r.text) return true;
      return Fail(c, line.offset, "header line %d is not \"%s\"", number, r.text);
    case Rule::kJobName: {
      constexpr std::string_view kJob("@PJL JOB NAME=\"");
      if (s.starts_with(kJob) && s.size() > kJob.size() && s.back() == '"') {
        std::string_view name = s.substr(kJob.size(), s.size() - kJob.size() - 1);
        if (IsNumber(name)) {
          job->job_name = std::string(name);
          return true;
        }
      }
      return Fail(c, line.offset, "header line %d is not @PJL JOB NAME=\"<number>\"", number);
    }
    case Rule::kSetting: {
      std::string prefix = std::string(kSet) + r.text + "=";
      if (!s.starts_with(prefix))
        return Fail(c, line.offset, "header line %d is not @PJL SET %s=...", number, r.text);
      std::string_view value = s.substr(prefix.size());
      if (!ValueAllowed(value, r.values))
        return Fail(c, line.offset + prefix.size(), "header line %d: %s=%.*s is not allowed",
                    number, r.text, static_cast<int>(value.size()), value.data());
      job->settings[r.text] = std::string(value);
      return true;
    }
    case Rule::kComment: {
      std::string prefix = std::string(kComment) + r.text;
      if (!s.starts_with(prefix))
        return Fail(c, line.offset, "header line %d is not \"%s...\"", number, prefix.c_str());
      job->comments.*r.field = std::string(s.substr(prefix.size()));
      return true;
    }
    case Rule::kDate:
    case Rule::kTime: {
      char sep = r.rule == Rule::kDate ? '/' : ':';
      if (!s.starts_with(kComment) || !IsNumberTriple(s.substr(kComment.size()), sep))
        return Fail(c, line.offset, "header line %d is not a %s comment", number,
                    r.rule == Rule::kDate ? "date" : "time");
      job->comments.*r.field = std::string(s.substr(kComment.size()));
      return true;
    }
    case Rule::kJbig: {
      constexpr std::string_view kJbig("@PJL COMMENT JBIG,00,");
      std::string_view v = s.starts_with(kJbig) ? s.substr(kJbig.size()) : std::string_view();
      if (v.size() >= 2 && v[0] == ' ') v.remove_prefix(1);
      if (!s.starts_with(kJbig) || !IsNumber(v) || v[0] == '-' || v.size() > 3)
        return Fail(c, line.offset, "header line %d is not \"@PJL COMMENT JBIG,00,%%2d\"", number);
      int options = 0;
      for (char ch : v) options = options * 10 + (ch - '0');
      job->comments.jbigOptions = options;
      return true;
    }
  }
  return false;
}

bool ParsePreamble(Cursor *c) {
  std::span<const uint8_t> b = c->bytes;
  for (size_t i = 0; i < kCancel.size(); ++i) {
    if (i >= b.size()) return Fail(c, i, "cut short in the cancel preamble");
    if (b[i] != static_cast<uint8_t>(kCancel[i]))
      return Fail(c, i, "cancel preamble differs from the cancel string");
  }
  for (size_t i = kCancel.size(); i < kHeaderBlockOffset; ++i) {
    if (i >= b.size()) return Fail(c, i, "cut short in the cancel preamble's zero bytes");
    if (b[i] != 0)
      return Fail(c, i, "non-zero byte in the cancel preamble's %zu zero bytes", kCancelPadding);
  }
  c->job->preamble_ok = true;
  return true;
}

bool ParseHeaderBlock(Cursor *c, size_t *pos) {
  std::span<const uint8_t> b = c->bytes;
  size_t p = kHeaderBlockOffset;
  if (!StartsWith(b, p, kUel))
    return Fail(c, p,
                b.size() - p < kUel.size() ? "cut short at the header block"
                                           : "header block does not begin with ESC %%-12345X");
  p += kUel.size();
  int number = 0;
  for (const LineRule &rule : kHeaderRules) {
    ++number;
    HeaderLine line;
    line.offset = p;
    size_t end = p;
    // A line: printable bytes, then CR LF; at most kLineMax bytes in all.
    while (true) {
      if (end >= b.size()) return Fail(c, end, "cut short in header line %d", number);
      if (end - p >= kLineMax)
        return Fail(c, p, "header line %d is longer than %zu bytes", number, kLineMax);
      uint8_t ch = b[end];
      if (ch == '\r' && end + 1 < b.size() && b[end + 1] == '\n') break;
      if (ch < 0x20 && !(ch == '\r' && end + 1 == b.size()))
        return Fail(c, end, "control byte 0x%02X in header line %d", ch, number);
      ++end;
    }
    if (end + 2 - p > kLineMax)
      return Fail(c, p, "header line %d is longer than %zu bytes", number, kLineMax);
    line.text.assign(reinterpret_cast<const char *>(b.data() + p), end - p);
    p = end + 2;
    if (p - kHeaderBlockOffset > kBlockMax)
      return Fail(c, line.offset, "header block is longer than %zu bytes", kBlockMax);
    c->job->header_lines.push_back(line);
    if (!CheckHeaderLine(c, rule, number, c->job->header_lines.back())) return false;
  }
  c->job->header_size = p - kHeaderBlockOffset;
  *pos = p;
  return true;
}

bool ParseJcl(Cursor *c, size_t *pos) {
  std::span<const uint8_t> b = c->bytes;
  size_t p = *pos;
  if (p >= b.size()) return Fail(c, p, "cut short after the header block");
  if (StartsWith(b, p, kPageStart) || StartsWith(b, p, kEndOfJob)) return true;
  if (b[p] != 0x1B)
    return Fail(c, p, "expected a page record, JCL text or the trailer after the header block");
  size_t page = Find(b, p + 1, kPageStart);
  size_t trailer = Find(b, p + 1, kEndOfJob);
  size_t end = page < trailer ? page : trailer;
  if (end == std::string_view::npos)
    return Fail(c, p, "JCL text is followed by no page record and no trailer");
  c->job->has_jcl = true;
  c->job->jcl_offset = p;
  c->job->jcl_text.assign(reinterpret_cast<const char *>(b.data() + p + 1), end - p - 1);
  *pos = end;
  return true;
}

bool ParsePageRecord(Cursor *c, size_t *pos) {
  std::span<const uint8_t> b = c->bytes;
  size_t p = *pos;
  int n = static_cast<int>(c->job->pages.size()) + 1;
  if (b.size() - p < 6) return Fail(c, b.size(), "cut short in page record %d at offset %zu", n, p);
  if (!StartsWith(b, p + 2, std::string_view("GDI\0", 4)))
    return Fail(c, p + 2, "page record %d does not carry the GDI identifier", n);
  if (b.size() - p < kPageRecordPrefix)
    return Fail(c, b.size(), "cut short in the header of page record %d at offset %zu", n, p);
  const uint8_t *h = b.data() + p + 2;
  PageRecord r;
  r.offset = p;
  r.page_width = ReadLe32(h + 4);
  r.page_height = ReadLe32(h + 8);
  r.datasize = ReadLe32(h + 12);
  r.compsize = ReadLe32(h + 16);
  r.blackDots = ReadLe32(h + 20);
  r.paper_type = h[24];
  r.media_type = h[25];
  r.media_position = h[26];
  r.out_bin = h[27];
  r.bits = h[28];
  r.colors = h[29];
  r.color_mode = h[30];
  r.comp_method = h[31];
  r.data_offset = p + kPageRecordPrefix;
  size_t f = p + 2;  // offset of the page header's fields
  if (r.page_width == 0 || r.page_height == 0)
    return Fail(c, r.page_width == 0 ? f + 4 : f + 8, "page %d has no pixels (%u x %u)", n,
                r.page_width, r.page_height);
  uint64_t expect = (static_cast<uint64_t>(r.page_width) + 7) / 8 * r.page_height;
  if (r.datasize != expect)
    return Fail(c, f + 12, "page %d: datasize %u, but %u x %u pixels take %llu bytes", n,
                r.datasize, r.page_width, r.page_height, static_cast<unsigned long long>(expect));
  if (static_cast<uint64_t>(r.blackDots) > static_cast<uint64_t>(r.page_width) * r.page_height)
    return Fail(c, f + 20, "page %d: %u black dots on %u x %u pixels", n, r.blackDots, r.page_width,
                r.page_height);
  if (r.out_bin != 0) return Fail(c, f + 27, "page %d: output bin %u, expected 0", n, r.out_bin);
  if (r.bits != 1) return Fail(c, f + 28, "page %d: %u bits per pixel, expected 1", n, r.bits);
  if (r.colors != 1 && r.colors != 2)
    return Fail(c, f + 29, "page %d: %u colours, expected 1 or 2", n, r.colors);
  if (r.colors == 2 && r.page_height % 2 != 0)
    return Fail(c, f + 8, "page %d: two-colour page of odd height %u", n, r.page_height);
  if (r.color_mode > 1 || (r.color_mode == 1 && r.colors == 2))
    return Fail(c, f + 30, "page %d: colour mode %u with %u colours", n, r.color_mode, r.colors);
  if (r.comp_method != 1)
    return Fail(c, f + 31, "page %d: compression method %u, expected 1 (JBIG)", n, r.comp_method);
  if (r.compsize < 2)
    return Fail(c, f + 16, "page %d: compsize %u is too small for a JBIG stripe", n, r.compsize);
  size_t left = b.size() - r.data_offset;
  if (r.compsize > left)
    return Fail(c, b.size(), "cut short in the data of page %d: %u bytes announced, %zu remain", n,
                r.compsize, left);
  r.data = b.subspan(r.data_offset, r.compsize);
  if (r.data[r.compsize - 2] != 0xFF || r.data[r.compsize - 1] != 0x02)
    return Fail(c, r.data_offset + r.compsize - 2,
                "page %d: data does not end with the stripe end marker FF 02", n);
  c->job->pages.push_back(r);
  *pos = r.data_offset + r.compsize;
  return true;
}

bool ParseTrailer(Cursor *c, size_t p) {
  std::span<const uint8_t> b = c->bytes;
  ParsedJob *job = c->job;
  if (!StartsWith(b, p, kEndOfJob)) {
    size_t left = b.size() - p;
    if (left < kEndOfJob.size() && memcmp(b.data() + p, kEndOfJob.data(), left) == 0)
      return Fail(c, b.size(), "cut short in the trailer at offset %zu", p);
    return Fail(c, p, "expected a page record or the trailer");
  }
  job->has_trailer = true;
  job->trailer_offset = p;
  p += kEndOfJob.size();
  if (StartsWith(b, p, kAlignment)) {
    job->alignment_comment = true;
    p += kAlignment.size();
  }
  if (!StartsWith(b, p, kFinalBlock)) {
    size_t left = b.size() - p;
    if (left < kFinalBlock.size() && memcmp(b.data() + p, kFinalBlock.data(), left) == 0)
      return Fail(c, b.size(), "cut short in the trailer's final block at offset %zu", p);
    return Fail(c, p, "trailer's final block differs from the expected text");
  }
  size_t end = p + kFinalBlock.size();
  if (end != b.size()) return Fail(c, end, "%zu bytes after the end of the job", b.size() - end);
  if (end % 512 == 0)
    return Fail(c, p, "job ends on a 512-byte boundary without the alignment comment");
  if (job->alignment_comment && (end - kAlignment.size()) % 512 != 0)
    return Fail(c, p - kAlignment.size(), "alignment comment where the job needs none");
  return true;
}

}  // namespace

ParsedJob ParseJob(std::span<const uint8_t> bytes) {
  ParsedJob job;
  job.size = bytes.size();
  Cursor c = {bytes, &job};
  if (bytes.empty()) {
    Fail(&c, 0, "no data: an empty job");
    return job;
  }
  size_t pos = 0;
  if (!ParsePreamble(&c) || !ParseHeaderBlock(&c, &pos) || !ParseJcl(&c, &pos)) return job;
  while (StartsWith(bytes, pos,
                    "\x1b"
                    "E") &&
         !StartsWith(bytes, pos, kEndOfJob)) {
    // A record start that is a prefix of the trailer is a job cut short in it.
    size_t left = bytes.size() - pos;
    if (left < kEndOfJob.size() && memcmp(bytes.data() + pos, kEndOfJob.data(), left) == 0) break;
    if (!ParsePageRecord(&c, &pos)) return job;
  }
  if (pos >= bytes.size()) {
    Fail(&c, pos, "cut short: no trailer after %zu page records", job.pages.size());
    return job;
  }
  if (!ParseTrailer(&c, pos)) return job;
  job.ok = true;
  return job;
}

const std::string *FindSetting(const ParsedJob &job, const std::string &name) {
  auto it = job.settings.find(name);
  return it == job.settings.end() ? nullptr : &it->second;
}

}  // namespace inspect
