// Marks the functions a library hands to its callers: plain C names,
// visible outside the library. Everything else stays hidden.
#pragma once

#define VEMORA_EXPORT extern "C" __attribute__((visibility("default")))
