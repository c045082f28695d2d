// The fuzz targets' entries: each takes the fuzzer's bytes, drives the filter's
// own code with them and checks what came out.  The libFuzzer targets and the
// replay of their findings in the unit tests call the same functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzzentry {

// Each entry returns the empty text when the run kept every promise checked,
// and otherwise says which promise it broke.

// The bytes are a raster stream: the whole filter runs on it in process, with
// fixed arguments.  Exit status 0 must come with a well-formed job (or with no
// output at all) whose pages decode, exit status 1 with an "ERROR:" line.
std::string RasterJob(const uint8_t *data, size_t size);

// The bytes are the arguments: queue, job id, user, title, copies and option
// text, separated by zero bytes.  The filter runs on a fixed small raster and
// must write a well-formed job whose header block carries the texts, made safe.
std::string JobArguments(const uint8_t *data, size_t size);

// The bytes are a printer job: the inspector's parser and page decoder read
// them, and must stay consistent with themselves.
std::string InspectJob(const uint8_t *data, size_t size);

// The bytes describe a 1-bit page (jbig_encoder_entry.cpp says how): the
// filter's own JBIG encoder must make exactly libjbig's bytes of it.
std::string JbigEncoders(const uint8_t *data, size_t size);

}  // namespace fuzzentry
