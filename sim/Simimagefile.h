#pragma once
// Writes a received image to a file, so that it can be compared with what was sent.
#include <string>

#include "sim/Simbootloader.h"

// S3 records (32 data bytes each, then an S7 end record, CR LF line ends) when the name ends
// in .hex, .srec, .s19 or .mot; otherwise raw bytes from the lowest address, holes as 0xFF.
bool WriteImageFile(const SimImage& image, const std::string& path);
