#include "BlockCipher.h"

#include "ImageFormat.h"
#include "ModulePath.h"

#include <cstring>
#include <dlfcn.h>

const char kSampleFamilyKey[] = "VemoraSampleKey!";

BlockCipher::~BlockCipher()
{
    if (m_key)
        m_unInitial(m_key);
    if (m_library)
        dlclose(m_library);
}

bool BlockCipher::Setup(const std::string& familyKey, const std::string& subType, std::string& why)
{
    char path[MAX_PATH_LEN];
    if (GetModuleRelPath("blockcrypt.dll", path) < 0) {
        why = "cannot find blockcrypt.dll beside the program";
        return false;
    }
    m_library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!m_library) {
        why = std::string("cannot load ") + path + ": " + dlerror();
        return false;
    }
    m_initial = reinterpret_cast<InitialFn>(dlsym(m_library, "Initial"));
    m_encode = reinterpret_cast<CodeFn>(dlsym(m_library, "Encode"));
    m_decode = reinterpret_cast<CodeFn>(dlsym(m_library, "Decode"));
    m_unInitial = reinterpret_cast<UnInitialFn>(dlsym(m_library, "UnInitial"));
    if (!m_initial || !m_encode || !m_decode || !m_unInitial) {
        why = std::string(path) + " lacks the RC6 functions";
        return false;
    }
    if (familyKey.size() != 16 || subType.size() != imgfmt::kSubTypeLen) {
        why = "the family key and the subtype must be 16 bytes";
        return false;
    }
    unsigned char family[16];
    unsigned char itemKey[16];
    unsigned char block[16];
    std::memcpy(family, familyKey.data(), 16);
    std::memcpy(block, subType.data(), 16);
    void* familyCtx = m_initial(family, 16);
    if (!familyCtx) {
        why = "RC6 key set-up failed";
        return false;
    }
    m_encode(familyCtx, block, itemKey);
    m_unInitial(familyCtx);
    m_key = m_initial(itemKey, 16);
    if (!m_key) {
        why = "RC6 key set-up failed";
        return false;
    }
    return true;
}

void BlockCipher::Encrypt(uint8_t* data, size_t length) const
{
    for (size_t at = 0; at + 16 <= length; at += 16)
        m_encode(m_key, data + at, data + at);
}

void BlockCipher::Decrypt(uint8_t* data, size_t length) const
{
    for (size_t at = 0; at + 16 <= length; at += 16)
        m_decode(m_key, data + at, data + at);
}
