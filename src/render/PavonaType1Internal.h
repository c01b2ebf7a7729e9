// Helpers shared by the Type 1, Type 2 and CFF parts of TPDFType1Decoder.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "objects/PavonaExtra.h"

namespace pvltype1 {

// Number text of the op list: integers as such, other values with 6 decimals.
std::string NumText(double v);
std::string IntText(int64_t v);
// Operand text back to a number; empty or non-numeric text is 0.
double NumOf(std::string_view text);
// Removes and returns the last entry when it is an operand (a number text);
// empty, removing nothing, when the list is empty or ends with an operator.
std::string PopOp(TPavonaStringList& list);

// The 391 standard strings of CFF; empty outside 0..390.
std::string_view CFFStandardString(int32_t sid);

}  // namespace pvltype1
