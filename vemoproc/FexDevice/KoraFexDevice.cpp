#include "KoraFexDevice.h"

#include <cstring>

#include "stage/stage_buffer.h"

namespace {
constexpr size_t GUID_LENGTH = sizeof EFEX_IF_GUID - 1;
}

KoraFexDevice::KoraFexDevice()
    : m_pEfexIf(nullptr)
{
}

KoraFexDevice::~KoraFexDevice() = default;

int KoraFexDevice::SetInterface(void* efex_if, const char* guid)
{
    if (efex_if == nullptr || guid == nullptr)
        return FEXDEV_NULL_ARG;
    if (strnlen(guid, GUID_LENGTH + 1) != GUID_LENGTH)
        return FEXDEV_GUID_LENGTH;
    if (memcmp(guid, EFEX_IF_GUID, GUID_LENGTH) != 0)
        return FEXDEV_GUID_OTHER;
    m_pEfexIf = static_cast<tag_EFEX_IF*>(efex_if);
    return 0;
}

int KoraFexDevice::GetCurrentStage(const char* path, unsigned* stage)
{
    return ::GetCurrentStage(m_pEfexIf, path, stage);
}

int KoraFexDevice::GetFelPrivateData(const char* path, void* buf, unsigned len)
{
    return ::GetFelPrivateData(m_pEfexIf, path, buf, len);
}

int KoraFexDevice::SetFelPrivateData(const char* path, void* buf, unsigned len)
{
    return ::SetFelPrivateData(m_pEfexIf, path, buf, len);
}

int KoraFexDevice::GetFesPrivateData(const char* path, void* buf, unsigned len)
{
    return ::GetFesPrivateData(m_pEfexIf, path, buf, len);
}

int KoraFexDevice::SetFesPrivateData(const char* path, void* buf, unsigned len)
{
    return ::SetFesPrivateData(m_pEfexIf, path, buf, len);
}
