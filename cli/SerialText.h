#pragma once
// The small texts the serial number files share: the lines of the counter,
// position and list files, the numbers of --serial and the names of its
// formats.
#include <cstdint>
#include <string>

#include "cli/SerialNumbers.h"

namespace vrx4::cli {

// s without blanks at either end.
std::string trimmedText(const std::string& s);
// A number of decimal digits only (at most 19, so that it fits); false for
// anything else.
bool decimalNumber(const std::string& s, uint64_t& v);
// The format's name as --serial writes it: le, be, bcd, ascii or hex.
const char* serialFormatName(SerialFormat f);

}  // namespace vrx4::cli
