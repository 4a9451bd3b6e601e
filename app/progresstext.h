// The information line of a progress report.
#pragma once

#include <QString>

// " <text>  <percent>%", formatted into a 256-byte buffer as the plug-in's
// texts are 8-bit: a text too long for it is cut and ends with "...". A null
// text counts as empty.
QString ProgressLine(unsigned int percent, const char* text);
