// The eFex USB transport: raw driver requests on the device node, one USB
// transfer (request block, data phase, status reply) and one FEX command
// (command block, data phase chosen by the command code, FEX status).
// Every function returns 0 on success or the code of its failure point.
#pragma once

#include "Export.h"

// Stores the node's descriptor in *handle (-1 when the open fails: 74).
VEMORA_EXPORT int Fex_Open(void** handle, char* path);
// Closes the descriptor and stores 0 in *handle.
VEMORA_EXPORT int Fex_Close(void** handle);
// Does nothing; no argument is read or written.
VEMORA_EXPORT int Fex_Query(
    void** handle, void* in, unsigned in_len, void* out, unsigned out_len, unsigned& count);
// Raw writes in chunks of at most 327680 bytes; `count` is the bytes written.
VEMORA_EXPORT int Fex_Send(void** handle, unsigned char* buffer, unsigned length, unsigned& count);
// Raw reads in chunks of at most 512 bytes; `count` is the bytes asked for
// by the requests that succeeded.
VEMORA_EXPORT int Fex_Recv(void** handle, unsigned char* buffer, unsigned length, unsigned& count);
// One USB transfer with a data phase of `length` bytes in `direction`.
VEMORA_EXPORT int Fex_transmit_receive(
    void** handle, unsigned char* buffer, unsigned length, unsigned char direction);
// One FEX command: `command` points to the 16-byte command block.
VEMORA_EXPORT int Fex_command(void** handle, void* command, unsigned char* buffer, unsigned length);
