/* The hand-off between a program's loader stub and the kernel library.
   Plain C, shared by the stub, the kernel library and test stand-ins. */
#ifndef RUNTIME_CONTRACT_KERNEL_HANDOFF_H
#define RUNTIME_CONTRACT_KERNEL_HANDOFF_H

#include <stdint.h>

/* The one request the stub makes of the kernel library's GetNewSock export. */
#define KERNEL_HANDOFF_REQUEST 1000

/* Exported by the kernel library under this name: gives the hand-off entry
   for KERNEL_HANDOFF_REQUEST, 0 for any other request or on failure. */
#define KERNEL_GETNEWSOCK_EXPORT "GetNewSock"
typedef intptr_t (*GetNewSockFunction)(int32_t request);

/* Binds and runs the program image at `image`; returns when the program ends. */
typedef void (*HandOffEntry)(const void* image);

#endif
