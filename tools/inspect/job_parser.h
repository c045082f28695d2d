// Reading a printer job as the filter writes it: cancel preamble, PJL header
// block, optional JCL text, page records and trailer.  The parser checks the
// structure and stops at the first thing that is wrong, naming its byte offset.
// It never reads outside the given bytes and allocates nothing from length
// fields, so it may be given arbitrary data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

namespace inspect {

// Where the header block starts: after the 43-byte cancel string and 512 zeros.
constexpr size_t kHeaderBlockOffset = 555;
constexpr size_t kPageRecordPrefix = 34;  // ESC E and the 32-byte page header

struct HeaderLine {
  size_t offset = 0;
  std::string text;  // without CR LF
};

// The comment lines of the header block, by what they carry.
struct HeaderComments {
  std::string title, user, host, queue, date, time, copies, location;
  int jbigOptions = -1;  // from "JBIG,00,%2d"
};

struct PageRecord {
  size_t offset = 0;  // of the ESC E that starts the record
  uint32_t page_width = 0, page_height = 0, datasize = 0, compsize = 0, blackDots = 0;
  uint8_t paper_type = 0, media_type = 0, media_position = 0, out_bin = 0, bits = 0, colors = 0,
          color_mode = 0, comp_method = 0;
  size_t data_offset = 0;
  std::span<const uint8_t> data;  // compsize bytes inside the parsed job's bytes
};

struct ParsedJob {
  size_t size = 0;
  bool preamble_ok = false;
  size_t header_size = 0;  // bytes of the header block from kHeaderBlockOffset
  std::vector<HeaderLine> header_lines;
  std::string job_name;                         // JOB NAME, without the quotes
  std::map<std::string, std::string> settings;  // "@PJL SET NAME=VALUE"
  HeaderComments comments;
  bool has_jcl = false;
  size_t jcl_offset = 0;  // of the ESC in front of the text
  std::string jcl_text;   // the bytes after the ESC
  std::vector<PageRecord> pages;
  bool has_trailer = false;
  size_t trailer_offset = 0;
  bool alignment_comment = false;
  // First problem found; ok is true only for a complete, well-formed job.
  bool ok = false;
  size_t error_offset = 0;
  std::string error;
};

// Parses a whole job.  The page records' data views point into `bytes`, which
// must outlive the result.
ParsedJob ParseJob(std::span<const uint8_t> bytes);

// A setting's value, or null when the header block has no such setting.
const std::string *FindSetting(const ParsedJob &job, const std::string &name);

}  // namespace inspect
