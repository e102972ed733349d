// Text for files and pipes on Windows. Only the doctor writes any: kept out
// of the launcher, which would otherwise link the char string machinery.
#pragma once

#include <string>

#include "text/text.h"

namespace text {

// UTF-8 with every line end written as CR LF, as files for Windows want it;
// a CR LF in s stays one.
// Half a surrogate pair becomes U+FFFD, as Windows' own conversion does.
std::string Utf8WithCrLf(View s);

}  // namespace text
