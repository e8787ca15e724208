/* The contract between program images and the runtime: slot numbers and
   their signatures, the argument block and its value types, unit type
   references, and the numbering of commands and properties.

   Plain C, included by the SDK (compiled freestanding into images) and by the
   kernel library. Nothing else defines these numbers. */
#ifndef RUNTIME_CONTRACT_RUNTIME_ABI_H
#define RUNTIME_CONTRACT_RUNTIME_ABI_H

#include <stdint.h>

#include "contract/unit_table.h"

/* Calls between image and runtime: cdecl on i386; the System V AMD64
   convention on x86-64 on every operating system, so that one image runs
   under every runtime. */
#if defined(__x86_64__)
#define RT_CALL __attribute__((sysv_abi))
#elif defined(__i386__)
#define RT_CALL __attribute__((cdecl))
#else
#error "images exist for i386 and x86-64 only"
#endif

/* ---- Slots: byte offsets into the runtime slot table, as the i386 thunks
   name them. An x86-64 slot table has 8-byte entries: the thunk operand is
   twice the slot value. ---- */
#define RT_SLOT_RUNTIME_ERROR 0x00   /* fatal run-time error, does not return */
#define RT_SLOT_DLL_CALL 0x04        /* call a declared Windows function */
#define RT_SLOT_LIBRARY_COMMAND 0x08 /* run a support library command */
#define RT_SLOT_KERNEL_COMMAND 0x0C  /* run a kernel library command */
#define RT_SLOT_GET_PROPERTY 0x10    /* read a unit property */
#define RT_SLOT_SET_PROPERTY 0x14    /* write a unit property */
#define RT_SLOT_HEAP_NEW 0x18        /* new heap block */
#define RT_SLOT_HEAP_RESIZE 0x1C     /* resize a heap block */
#define RT_SLOT_HEAP_FREE 0x20       /* release a heap block */
#define RT_SLOT_EXIT 0x24            /* end the program */
#define RT_SLOT_SERVE_EVENTS 0x28    /* serve window events until the program is to end */
#define RT_SLOT_LOAD_WINDOW 0x2C     /* load and show a window */
#define RT_SLOT_SERVICE 0x30         /* numbered services, below */
#define RT_SLOT_COUNT 13
#define RT_SLOT_INDEX(slot) ((slot) / 4)

/* Run-time error codes passed to RT_SLOT_RUNTIME_ERROR. */
#define RT_ERROR_INDEX_ABOVE_COUNT 1
#define RT_ERROR_INDEX_BELOW_ONE 4
#define RT_ERROR_STACK_UNBALANCED 6

/* Services of RT_SLOT_SERVICE. */
#define RT_SERVICE_FIND_FILE \
    0 /* (pattern or 0 to continue, attribute filter, flag, search state*) -> name */
#define RT_SERVICE_END_FIND 1    /* (search state*) */
#define RT_SERVICE_EMPTY_ARRAY 2 /* (array variable*, element size) */
#define RT_SERVICE_ON_RELEASE 3  /* (routine): the global release routine */

/* ---- Argument block: a count, then 12 bytes per argument. ---- */
#pragma pack(push, 4)
typedef struct RtArgument {
    uint32_t low;  /* value, low 32 bits */
    uint32_t high; /* value, high 32 bits */
    uint32_t type; /* RT_TYPE_* or a unit type reference */
} RtArgument;

typedef struct RtArgumentBlock {
    uint32_t count;
    RtArgument arguments[1]; /* `count` of them */
} RtArgumentBlock;
#pragma pack(pop)

#define RT_TYPE_INT32 0x80000301u
#define RT_TYPE_FLOAT64 0x80000601u
#define RT_TYPE_BOOL 0x80000002u     /* 1 true, 0 false */
#define RT_TYPE_DATETIME 0x80000003u /* 8 bytes */
#define RT_TYPE_TEXT 0x80000004u     /* address of a zero-terminated GBK text */
#define RT_TYPE_BYTES 0x80000005u    /* address of a byte array */
/* An address argument holds the whole pointer: low half in `low`, high half
   in `high` (0 in i386 images). */

/* An array (also a byte array) is a heap block: dimension count (1),
   element count, then the elements. Indexes start at 1. */
typedef struct RtArrayHeader {
    uint32_t dimensions;
    uint32_t count;
} RtArrayHeader;

/* ---- Identifiers: class byte, 0x01, 16-bit number. ---- */
#define RT_ID_CLASS(id) ((uint32_t)(id) >> 24)
#define RT_CLASS_WINDOW 0x52u
#define RT_CLASS_WINDOW_UNIT 0x06u
#define RT_CLASS_UNIT 0x16u
#define RT_CLASS_BLOCK 0x19u
#define RT_START_WINDOW 0x52010001u

/* ---- Unit types, unit properties and form items: unit_table.h. ---- */
#define RT_TYPE_LIBRARY(type) ((uint32_t)(type) >> 16)
#define RT_TYPE_NUMBER(type) ((uint32_t)(type)&0xFFFFu)

/* ---- Unit events: 0 is a unit's main event (a click, a window's
   creation); -1 is a left mouse button press on a transparent label. ---- */
#define RT_EVENT_MAIN 0
#define RT_EVENT_LEFT_BUTTON_DOWN (-1)
/* Edit box: its content changed, typed or set by the program. */
#define RT_EVENT_CONTENT_CHANGED 1
/* List box: the user selected a row (a selection by the program runs none). */
#define RT_EVENT_SELECTION_CHANGED 2
/* Window's own record: the window is about to close; its units can still be
   read. */
#define RT_EVENT_WINDOW_CLOSING 3

/* Font styles (RT_PROPERTY_FONT_STYLE). */
#define RT_FONT_BOLD 0x1
#define RT_FONT_ITALIC 0x2
#define RT_FONT_UNDERLINE 0x4

/* ---- Commands. Kernel commands (RT_SLOT_KERNEL_COMMAND) are numbered from
   1 in the kernel library; each support library numbers its own commands
   (RT_SLOT_LIBRARY_COMMAND) from 1. Later additions take the next free
   number of their library. Windows are passed as integers (their
   identifiers), list boxes as unit arguments (rt::unit). ---- */
/* (text, int RT_MB_ICON_* | RT_MB_*, title text or 0 for none) -> the
   RT_MB_ANSWER_* of the button pressed */
#define RT_KERNEL_MESSAGE_BOX 1
/* (int window) -> 0: loads and shows the window and returns when it has
   been closed, serving events meanwhile */
#define RT_KERNEL_LOAD_WINDOW_MODAL 2
#define RT_KERNEL_CLOSE_WINDOW 3 /* (int window) -> 0: closes a loaded window */
/* (unit list box, text, int row or -1 for the end) -> the new row */
#define RT_KERNEL_INSERT_ITEM 4
#define RT_KERNEL_REMOVE_ITEM 5 /* (unit list box, int row) -> 0 */
#define RT_KERNEL_CLEAR_ITEMS 6 /* (unit list box) -> 0 */

/* Paths are GBK texts; a backslash separates folders on every system. A
   command whose path argument is empty fails as if the file did not exist.
   A "new heap text" is the caller's to release; commands that cannot give
   one return 0, which reads as the empty text. */

/* Profile files: Windows' rules (names without regard to case, trimmed
   values, surrounding quotes dropped, the first of duplicates wins, a missing
   file, section or key reads as empty). */
/* (text file, text section, text key) -> new heap text */
#define RT_KERNEL_READ_PROFILE 7
/* (text file, text section, text key, text value) -> logical success; the
   file's other lines stay as they are */
#define RT_KERNEL_WRITE_PROFILE 8

/* Files and folders. */
#define RT_KERNEL_FILE_EXISTS 9  /* (text path) -> logical: a file or a folder */
#define RT_KERNEL_DELETE_FILE 10 /* (text path) -> logical success */
/* (text path) -> logical: the folder and everything in it are gone; links
   and junctions inside are removed, never followed */
#define RT_KERNEL_DELETE_FOLDER 11
#define RT_KERNEL_CREATE_FOLDER 12 /* (text path) -> logical: it exists afterwards */
#define RT_KERNEL_COPY_FILE 13     /* (text from, text to) -> logical; replaces `to` */
#define RT_KERNEL_READ_FILE 14     /* (text path) -> new heap byte array, 0 when unreadable */
/* (text path) -> new heap text of the whole file (up to its first zero
   byte), 0 when unreadable */
#define RT_KERNEL_READ_TEXT_FILE 15
/* (text path, bytes or text content) -> logical; the file is replaced
   through a sibling temporary file and a rename */
#define RT_KERNEL_WRITE_FILE 16
/* (text path) -> int handle for RT_KERNEL_READ_LINE, 0 when unreadable */
#define RT_KERNEL_OPEN_LINES 17
/* (int handle) -> new heap text of the next line without its line end
   (CR LF or LF), 0 after the last line */
#define RT_KERNEL_READ_LINE 18
#define RT_KERNEL_CLOSE_LINES 19 /* (int handle) -> 0 */
/* (text path) -> new heap text "YYYY-MM-DD HH:MM:SS" of the last-write time
   in UTC, 0 when the file does not exist */
#define RT_KERNEL_FILE_TIME 20
/* (text path) -> the file's size in bytes, -1 when it does not exist */
#define RT_KERNEL_FILE_SIZE 21

/* Processes and the user's places. */
/* (text command line, logical wait) -> -1 when it could not start; else 0,
   or its exit code when waited for */
#define RT_KERNEL_RUN 22
#define RT_KERNEL_DESKTOP_FOLDER 23 /* () -> new heap text, without a final separator */
#define RT_KERNEL_PROGRAM_FOLDER 24 /* () -> new heap text: the executable's folder */
#define RT_KERNEL_CURRENT_FOLDER 25 /* () -> new heap text */

/* Network. */
/* (text host name) -> new heap text of its dotted IPv4 address, 0 when it
   cannot be resolved */
#define RT_KERNEL_RESOLVE_HOST 26
/* (text dotted IPv4 address, int time limit in ms) -> echo time in ms, -1
   when no echo came in time */
#define RT_KERNEL_PING 27

/* Objects by ProgID ("MSXML2.ServerXMLHTTP"): Windows' own COM objects, or
   the runtime's implementation where the system has none. Member names
   match without regard to A-Z case. */
#define RT_KERNEL_OBJECT_CREATE 28 /* (text ProgID) -> int handle, 0 when unavailable */
/* (int handle) -> 0; handle 0 does nothing, one the program does not hold
   ends it */
#define RT_KERNEL_OBJECT_RELEASE 29
/* (int handle, text method, the method's arguments: int, logical, number,
   text, byte array) -> the method's result: nothing as 0, an integer or
   logical as its value, a number truncated, a text or byte array as a new
   heap block; RT_OBJECT_FAILED when the call failed (no such member,
   arguments it cannot take, or the member's own failure) */
#define RT_KERNEL_OBJECT_CALL 30
/* (int handle, text property) -> its value, typed as for a method */
#define RT_KERNEL_OBJECT_GET 31
#define RT_OBJECT_FAILED ((int64_t)0x8000000000000000ull)

/* The event loop seen from inside a handler that runs long. */
/* () -> 0: serves the window events that are pending, then returns */
#define RT_KERNEL_PROCESS_EVENTS 32
/* (logical on) -> 0: the wait cursor over the program's windows, or the
   normal one again */
#define RT_KERNEL_WAIT_CURSOR 33

/* (text from, text to) -> logical: the plain file `from` renamed to `to`,
   which must not exist (a folder or a link is not moved) */
#define RT_KERNEL_MOVE_FILE 34
/* (text path, bytes, int length before or -1) -> logical: the bytes added
   at the end of an existing plain file, opened and closed within the call;
   false (the file as it was) when it is no plain file, its length is not
   the one given, or it cannot be written whole */
#define RT_KERNEL_APPEND_FILE 35
/* () -> milliseconds of a steady clock (only differences mean anything) */
#define RT_KERNEL_MILLISECONDS 36
/* () -> new heap text: the running executable's own file name, without its
   folder */
#define RT_KERNEL_PROGRAM_FILE_NAME 37

/* Units made and drawn on at run time. */
/* (unit, logical inside) -> the identifier of a copy of the unit: the same
   type, place, properties and events, made in its window after the others,
   held by the unit's holder or (inside) by the unit itself */
#define RT_KERNEL_COPY_UNIT 38
/* (unit drawing board, int x, int y, int colour 0x00BBGGRR, text) -> 0: the
   text painted at (x, y), its top left corner, in the board's font without
   a background; the board keeps it */
#define RT_KERNEL_DRAW_TEXT 39
/* (text face or "" for the default, int points, int RT_FONT_* bits, text)
   -> width | height << 32 of the text on one line, in pixels */
#define RT_KERNEL_MEASURE_TEXT 40

/* Message boxes (RT_KERNEL_MESSAGE_BOX): one icon value plus one button value. */
#define RT_MB_OK 0x00
#define RT_MB_OK_CANCEL 0x01
#define RT_MB_YES_NO 0x04
#define RT_MB_ICON_NONE 0x00
#define RT_MB_ICON_ERROR 0x10
#define RT_MB_ICON_INFORMATION 0x40
#define RT_MB_ANSWER_OK 1
#define RT_MB_ANSWER_CANCEL 2
#define RT_MB_ANSWER_YES 6
#define RT_MB_ANSWER_NO 7

/* ---- Slot signatures. ---- */
typedef void(RT_CALL* RtRuntimeErrorFn)(int32_t code);
/* Calls DLL declaration `number` with `count` pointer-sized arguments. */
typedef intptr_t(RT_CALL* RtDllCallFn)(int32_t number, int32_t count, const intptr_t* arguments);
typedef int64_t(RT_CALL* RtLibraryCommandFn)(int32_t library_position, int32_t command,
                                             const RtArgumentBlock* arguments);
typedef int64_t(RT_CALL* RtKernelCommandFn)(int32_t command, const RtArgumentBlock* arguments);
typedef int64_t(RT_CALL* RtGetPropertyFn)(uint32_t window, uint32_t unit, int32_t property,
                                          int32_t index);
typedef void(RT_CALL* RtSetPropertyFn)(uint32_t window, uint32_t unit, int32_t property,
                                       int32_t index, int64_t value);
typedef void*(RT_CALL* RtHeapNewFn)(uint32_t size);
typedef void*(RT_CALL* RtHeapResizeFn)(void* block, uint32_t size);
typedef void(RT_CALL* RtHeapFreeFn)(void* block);
typedef void(RT_CALL* RtExitFn)(int32_t exit_code);
typedef void(RT_CALL* RtServeEventsFn)(int32_t zero);
typedef void(RT_CALL* RtLoadWindowFn)(uint32_t window);
typedef intptr_t(RT_CALL* RtServiceFn)(int32_t service, intptr_t a, intptr_t b, intptr_t c,
                                       intptr_t d);

/* ---- Support libraries: files "<name>.fne" beside the kernel library, one
   per library list entry after the kernel's own. Each exports, in the
   platform's own C convention: ---- */
#define RT_LIBRARY_FILE_SUFFIX ".fne"
#define RT_LIBRARY_COMMAND_EXPORT "LibraryCommand"
/* What the kernel lends a support library: texts and arrays that a command
   returns are blocks of the kernel's heap, which the image releases through
   RT_SLOT_HEAP_FREE. */
typedef struct RtKernelServices {
    void* (*heap_new)(uint32_t size);
    void (*heap_free)(void* block);
    /* The length of the zero-terminated text at `address` when it lies in
       memory the program owns (its image, a heap block, the stack) and ends
       there; -1 otherwise. */
    int64_t (*text_length)(const void* address);
    /* The element count of the byte array at `address` when its header and
       elements lie inside one heap block; -1 otherwise. */
    int64_t (*byte_array_length)(const void* address);
    /* Shows the GBK message and ends the program, as the kernel does when a
       program passes a kernel command what it cannot take. */
    void (*fatal)(const char* text);
} RtKernelServices;
typedef int64_t (*RtLibraryCommandExport)(int32_t command, const RtArgumentBlock* arguments,
                                          const RtKernelServices* kernel);

/* Commands of the support libraries. */
/* internet: (text address) -> new heap byte array of the body of an HTTP
   GET, 0 when the fetch failed */
#define RT_INTERNET_HTTP_GET 1
/* eCompress: (text file, text archive) -> logical: a ZIP archive holding
   the file under its bare name */
#define RT_ECOMPRESS_PACK_FILE 1
/* eCompress: (text archive, text folder) -> logical: every entry written
   into the folder; entries that are not plain names are refused */
#define RT_ECOMPRESS_UNPACK 2
/* pbshell: (text shortcut path, text target, text comment, text working
   folder) -> logical */
#define RT_PBSHELL_WRITE_SHORTCUT 1
/* eAPI: (text address) -> 0: opens it in the user's browser */
#define RT_EAPI_OPEN_ADDRESS 1

/* Routines that the runtime calls in the image. */
typedef void(RT_CALL* RtStartRoutine)(void);
typedef void(RT_CALL* RtReleaseRoutine)(void);
typedef void(RT_CALL* RtEventHandler)(void);
typedef void(RT_CALL* RtMouseHandler)(int32_t a, int32_t b, int32_t c);

#endif
