#include "dev_manager.h"

#include <cstring>

#include "PyrraDebug.h"

namespace {

// A handle field holding a descriptor: neither none (0) nor a failed open (-1).
bool HoldsDevice(void* handle)
{
    return handle != nullptr && handle != EFEX_NO_DEVICE;
}

void** HandleField(tag_EFEX_PRIV_INFO* priv, unsigned kind)
{
    return kind == EFEX_DEV_FEL ? &priv->fel_dev_handle : &priv->fes_dev_handle;
}

bool IsDeviceKind(unsigned kind)
{
    return kind == EFEX_DEV_FEL || kind == EFEX_DEV_FES;
}

uint8_t KindBit(unsigned kind)
{
    return static_cast<uint8_t>(1u << kind);
}

// The public stage operations pass the result on and add their own line when
// it is a failure.
int NoteFailure(int ret, const char* line)
{
    if (ret != 0)
        PyrraDebug::DebugMsg("%s", line);
    return ret;
}

} // namespace

int dev_manager_open_raw_dev(tag_EFEX_IF* efex_if, char* path, void** handle)
{
    if (efex_if == nullptr || path == nullptr || handle == nullptr) {
        PyrraDebug::DebugMsg("PANIC : dev_manager_open_raw_dev() : input == NULL\n");
        return DEV_MANAGER_NULL_ARG;
    }
    if (efex_if->Fex_Open(handle, path) != 0) {
        PyrraDebug::DebugMsg("PANIC : dev_manager_open_raw_dev() : can not open raw dev\n");
        return DEV_MANAGER_OPEN_FAILED;
    }
    return 0;
}

int dev_manager_close_raw_dev(tag_EFEX_IF* efex_if, void** handle)
{
    if (efex_if == nullptr || handle == nullptr) {
        PyrraDebug::DebugMsg("PANIC : dev_manager_close_raw_dev() : input == NULL\n");
        return -1;
    }
    if (efex_if->Fex_Close(handle) != 0) {
        PyrraDebug::DebugMsg("PANIC : dev_manager_close_raw_dev() : can not close raw dev\n");
        return -1;
    }
    return 0;
}

// The lines name dev_manager_open_fel_dev() for both kinds: fixed log text,
// kept on purpose.
int _dev_manager_open_efex_dev(tag_TOOL_THREAD_PARA* para, unsigned kind)
{
    // An unterminated path would be read past the record by the transport.
    if (para == nullptr || !IsDeviceKind(kind)
        || memchr(para->DevicePath, '\0', sizeof para->DevicePath) == nullptr) {
        PyrraDebug::DebugMsg("PANIC : dev_manager_open_fel_dev() : input == NULL\n");
        return -1;
    }
    tag_EFEX_PRIV_INFO* priv = para->priv_info;
    if (priv == nullptr) {
        PyrraDebug::DebugMsg("PANIC : dev_manager_open_fel_dev() : priv_info == NULL\n");
        return -1;
    }
    if (para->DeviceOpenMode != DEVICE_OPEN_BY_PATH) {
        PyrraDebug::DebugMsg("PANIC : DeviceOpenMode = %x not support \n", para->DeviceOpenMode);
        return -1;
    }
    if (priv->efex_interf == nullptr) {
        PyrraDebug::DebugMsg("PANIC : dev_manager_open_fel_dev() : efex_interf == NULL\n");
        return -1;
    }
    void** field = HandleField(priv, kind);
    // Opening over a held descriptor would lose it for good.
    if (HoldsDevice(*field)) {
        PyrraDebug::DebugMsg("PANIC : dev_manager_open_fel_dev() : dev already opened\n");
        return -1;
    }
    if (priv->efex_interf->Fex_Open(field, para->DevicePath) != 0) {
        PyrraDebug::DebugMsg("PANIC : dev_manager_open_fel_dev() : can not open fel dev\n");
        return -1;
    }
    priv->kinds_open |= KindBit(kind);
    priv->dev_state = 1;
    return 0;
}

int _dev_manager_close_efex_dev(tag_TOOL_THREAD_PARA* para, unsigned kind)
{
    if (para == nullptr || !IsDeviceKind(kind)) {
        PyrraDebug::DebugMsg("PANIC : _dev_manager_close_efex_dev() : input == NULL\n");
        return -1;
    }
    tag_EFEX_PRIV_INFO* priv = para->priv_info;
    if (priv == nullptr) {
        PyrraDebug::DebugMsg("PANIC : _dev_manager_close_efex_dev() : priv_info == NULL\n");
        return -1;
    }
    if (priv->dev_state != 1) {
        // "not fel state" for either kind: fixed log text, kept on purpose.
        PyrraDebug::DebugMsg("PANIC : _dev_manager_close_efex_dev() : error state,not fel state\n");
        return -1;
    }
    void** field = HandleField(priv, kind);
    if (*field == nullptr) {
        PyrraDebug::DebugMsg("PANIC : _dev_manager_close_efex_dev() : no dev opened\n");
        return -1;
    }
    if (priv->efex_interf == nullptr) {
        PyrraDebug::DebugMsg("PANIC : _dev_manager_close_efex_dev() : efex_interf == NULL\n");
        return -1;
    }
    if (priv->efex_interf->Fex_Close(field) != 0) {
        PyrraDebug::DebugMsg("PANIC : _dev_manager_close_efex_dev() : close fail\n");
        return -1;
    }
    *field = nullptr;
    // The other kind, if the manager opened it, stays open and closable.
    priv->kinds_open &= static_cast<uint8_t>(~KindBit(kind));
    priv->dev_state = priv->kinds_open != 0 ? 1 : 0;
    return 0;
}

// All four INFO lines say "open fel fail", also for a close or a FES device:
// fixed log texts, kept on purpose.
int dev_manager_open_fel_dev(tag_TOOL_THREAD_PARA* para)
{
    return NoteFailure(_dev_manager_open_efex_dev(para, EFEX_DEV_FEL),
        "INFO : dev_manager_open_fel_dev() : open fel fail\n");
}

int dev_manager_close_fel_dev(tag_TOOL_THREAD_PARA* para)
{
    return NoteFailure(_dev_manager_close_efex_dev(para, EFEX_DEV_FEL),
        "INFO : dev_manager_close_fel_dev() : open fel fail\n");
}

int dev_manager_open_fes_dev(tag_TOOL_THREAD_PARA* para)
{
    return NoteFailure(_dev_manager_open_efex_dev(para, EFEX_DEV_FES),
        "INFO : dev_manager_open_fes_dev() : open fel fail\n");
}

int dev_manager_close_fes_dev(tag_TOOL_THREAD_PARA* para)
{
    return NoteFailure(_dev_manager_close_efex_dev(para, EFEX_DEV_FES),
        "INFO : dev_manager_close_fes_dev() : open fel fail\n");
}
