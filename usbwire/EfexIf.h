// The transport's function table, as "usbwire.dll" hands it out through
// GetInterface. A handle is a pointer-sized value carrying the descriptor of
// the open device node; -1 means no device and 0 a closed one, and every
// function but Fex_Query refuses both. Every function returns 0 on success or
// the failure code of the transport. The protocol values callers need are in
// FexProtocol.h.
#pragma once

#include <cstdint>

// The handle value that means no device: what a failed Fex_Open stores.
inline void* const EFEX_NO_DEVICE = reinterpret_cast<void*>(intptr_t(-1));

struct tag_EFEX_IF {
    int (*Fex_Open)(void** handle, char* path);
    int (*Fex_Close)(void** handle);
    int (*Fex_Query)(
        void** handle, void* in, unsigned in_len, void* out, unsigned out_len, unsigned& count);
    int (*Fex_Send)(void** handle, unsigned char* buffer, unsigned length, unsigned& count);
    int (*Fex_Recv)(void** handle, unsigned char* buffer, unsigned length, unsigned& count);
    int (*Fex_transmit_receive)(
        void** handle, unsigned char* buffer, unsigned length, unsigned char direction);
    int (*Fex_command)(void** handle, void* command, unsigned char* buffer, unsigned length);
};
