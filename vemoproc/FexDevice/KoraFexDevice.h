// The session controller's access to a device's stage and private data. It
// keeps the transport table handed out for the eFex interface identifier and
// runs each operation as one open-verify-act-close cycle on the node.
#pragma once

#include "EfexIf.h"
#include "PluginCenter.h"

// Interface identifier of the transport table of "usbwire.dll".
constexpr char EFEX_IF_GUID[] = USBWIRE_GUID;

// Results of SetInterface (0 = success).
enum : int {
    FEXDEV_NULL_ARG = 90,    // the table or the identifier is null
    FEXDEV_GUID_LENGTH = 93, // the identifier is not 36 characters long
    FEXDEV_GUID_OTHER = 101, // another identifier
};

class __attribute__((visibility("default"))) KoraFexDevice {
public:
    KoraFexDevice();
    virtual ~KoraFexDevice();

    // 0, or a FEXDEV_ code; the table is kept only on 0.
    int SetInterface(void* efex_if, const char* guid);

    // Without an interface these fail at once: STAGE_NULL_ARG
    // (stage/stage_buffer.h), or -1.
    int GetCurrentStage(const char* path, unsigned* stage);
    int GetFelPrivateData(const char* path, void* buf, unsigned len);
    int SetFelPrivateData(const char* path, void* buf, unsigned len);
    int GetFesPrivateData(const char* path, void* buf, unsigned len);
    int SetFesPrivateData(const char* path, void* buf, unsigned len);

private:
    tag_EFEX_IF* m_pEfexIf;
};
