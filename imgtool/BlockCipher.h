// RC6 of "blockcrypt.dll" beside the program, with the item key derivation
// of docs/image-format.md.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class BlockCipher {
public:
    BlockCipher() = default;
    ~BlockCipher();
    BlockCipher(const BlockCipher&) = delete;
    BlockCipher& operator=(const BlockCipher&) = delete;

    // Loads the library and sets the key of the item with this subtype
    // (16 bytes, padded), derived from the 16-byte family key.
    bool Setup(const std::string& familyKey, const std::string& subType, std::string& why);
    // Works on whole 16-byte blocks, each on its own; `length` % 16 == 0.
    void Encrypt(uint8_t* data, size_t length) const;
    void Decrypt(uint8_t* data, size_t length) const;

private:
    using InitialFn = void* (*)(unsigned char*, unsigned int);
    using CodeFn = int (*)(void*, unsigned char*, unsigned char*);
    using UnInitialFn = int (*)(void*);

    void* m_library = nullptr;
    InitialFn m_initial = nullptr;
    CodeFn m_encode = nullptr;
    CodeFn m_decode = nullptr;
    UnInitialFn m_unInitial = nullptr;
    void* m_key = nullptr;
};

// The family key of the sample images.
extern const char kSampleFamilyKey[];
