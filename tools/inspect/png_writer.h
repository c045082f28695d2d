// Page images for people looking at a job: PBM and PNG files of decoded pages.
#pragma once

#include <string>

#include "page_decoder.h"

namespace inspect {

// Writes the bitmap as a binary PBM (P4): a set bit is black.  False when the
// file cannot be written.
bool WritePbm(const std::string &path, const Bitmap &bitmap);

// Writes the page as PNG: a 1-bit grey image for a one-colour page; for a
// two-colour page (`colors` 2: black plane above red plane) an RGB image of one
// plane's height with the black dots in black and the red dots in red.
bool WritePng(const std::string &path, const Bitmap &bitmap, int colors);

}  // namespace inspect
