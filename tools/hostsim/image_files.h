// Image files for the simulated host's documents: binary PGM and PPM (P5, P6;
// maxval up to 255 gives an 8-bit document, above 255 a 16-bit one) and PFM
// (Pf grey, PF colour; 32-bit float).
//
// 16-bit files use the full 0..maxval range; the document holds the host
// range 0..32768, so samples are scaled on the way in and out. PFM rows run
// bottom to top, and the sign of the scale gives the byte order (negative:
// little-endian, which is what is written). A transparency plane is not
// written: these formats have none.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/hostsim/sim_document.h"

// False with a reason on a file that cannot be read or is not one of the formats.
bool ReadImageFile(const std::string& path, SimDocument& document, std::string* error);
// The format follows the document's mode: PGM/PPM for 8 and 16 bits, PFM for float.
bool WriteImageFile(const std::string& path, SimDocument& document, std::string* error);

// Byte-level forms, for tests and tools that keep images in memory.
bool DecodeImageFile(const std::vector<uint8_t>& bytes, SimDocument& document, std::string* error);
std::vector<uint8_t> EncodeImageFile(SimDocument& document);
