// RC6-32/20/b block cipher: 16-byte blocks, keys of 1 to 32 bytes. Each
// block is handled on its own; there is no chaining.
#pragma once

#include "Export.h"

// Results of Encode, Decode and UnInitial.
enum : int {
    RC6_OK = 0,
    RC6_ENCODE_NULL = 110,    // Encode: a null pointer
    RC6_DECODE_NULL = 162,    // Decode: a null pointer
    RC6_UNINITIAL_NULL = 204, // UnInitial: a null context
};

// The longest key Initial takes, in bytes (the shortest is 1).
constexpr unsigned int RC6_MAX_KEY_BYTES = 32;

// A new key context (the expanded key), or null when key is null, len is
// outside 1..32, or memory runs out. Free it with UnInitial.
VEMORA_EXPORT void* Initial(unsigned char* key, unsigned int len);

// Encrypts the 16-byte block at in into out (which may be in). RC6_OK, or
// RC6_ENCODE_NULL when any pointer is null; then nothing is written.
VEMORA_EXPORT int Encode(void* ctx, unsigned char* in, unsigned char* out);

// Decrypts the 16-byte block at in into out (which may be in). RC6_OK, or
// RC6_DECODE_NULL when any pointer is null; then nothing is written.
VEMORA_EXPORT int Decode(void* ctx, unsigned char* in, unsigned char* out);

// Frees a context from Initial. RC6_OK, or RC6_UNINITIAL_NULL for null.
VEMORA_EXPORT int UnInitial(void* ctx);
