/* export_caller <path of Wendlev14.EXE> <step> [<step> ...]
 * linked_caller <step> [<step> ...]
 *
 * export_caller loads the EXE with LoadLibrary and finds the exports with
 * GetProcAddress; linked_caller is built from serial/wendle.h and linked
 * with the import library, so that the system's loader binds them.
 *
 * Steps, run in order:
 *   open:<port>:<baud>        SER_OPEN; prints its result
 *   close                     SER_CLOSE; prints its result
 *   send:<payload>            SER_SEND on a variable; prints the variable after
 *   rawsend:<payload>         SER_RAWSEND on a variable; prints the variable after
 *   send_bv:<payload>         SER_SEND_BV with a fresh string
 *   rawsend_bv:<payload>      SER_RAWSEND_BV with a fresh string
 *   version                   SER_VERSINFO; prints the text as the variables, then
 *                             frees it
 *   hold:<port>               opens the device itself: is it held by someone?
 *   unload                    FreeLibrary on the EXE (the process then exits)
 *   ordinals                  looks each export up by its ordinal, prints
 *                             whether that is the function of its name, and
 *                             calls through the ordinals from then on
 *   threads:, race:, firstcall:, memory:, loader:, slots   see their files
 * A payload is `null`, `hex:<bytes in hex>` or `fill:<chunk in hex>:<size>`
 * (the chunk repeated to `size` bytes). */
#include "caller_win.h"

#ifdef WENDLE_LINKED
#include "serial/wendle.h"
#endif

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const char* const kNames[] = {"SER_CLOSE", "SER_OPEN",    "SER_RAWSEND", "SER_RAWSEND_BV",
                                     "SER_SEND",  "SER_SEND_BV", "SER_VERSINFO"};

void Report(const char* format, ...) {
    va_list args;
    va_start(args, format);
    vprintf(format, args);
    va_end(args);
    putchar('\n');
    fflush(stdout);
}

unsigned long Fnv1a(const void* bytes, size_t count) {
    const unsigned char* p = bytes;
    unsigned long hash = 2166136261UL;
    for (size_t i = 0; i < count; ++i) {
        hash = ((hash ^ p[i]) * 16777619UL) & 0xffffffffUL;
    }
    return hash;
}

int IsVersionText(BSTR text) {
    static const char kVersion[] = "v1.3, 22 Oct 2012, https://wendle.example.org";
    return SysStringByteLen(text) == sizeof kVersion - 1 &&
           memcmp(text, kVersion, sizeof kVersion - 1) == 0;
}

/* Builds a payload as a fresh BSTR; *ok is cleared when the text is not a
 * payload. A `null` payload is a valid null BSTR. */
static BSTR MakePayload(const char* text, int* ok) {
    *ok = 1;
    if (strcmp(text, "null") == 0) {
        return NULL;
    }
    const int fill = strncmp(text, "fill:", 5) == 0;
    const char* hex = text + (fill ? 5 : 4);
    const char* colon = strchr(hex, ':');
    const size_t digits = fill && colon ? (size_t)(colon - hex) : strlen(hex);
    const long size = fill ? (colon ? atol(colon + 1) : -1) : (long)digits / 2;
    unsigned char* chunk = malloc(digits / 2 + 1);
    *ok = chunk && size >= 0 && digits % 2 == 0 && (fill || strncmp(text, "hex:", 4) == 0) &&
          (digits > 0 || size == 0);
    for (size_t i = 0; *ok && i < digits / 2; ++i) {
        unsigned value;
        *ok = sscanf(hex + 2 * i, "%2x", &value) == 1;
        chunk[i] = (unsigned char)value;
    }
    BSTR result = *ok ? SysAllocStringByteLen(NULL, (UINT)size) : NULL;
    for (long i = 0; result && i < size; ++i) {
        ((unsigned char*)result)[i] = chunk[(size_t)i % (digits / 2)];
    }
    *ok = *ok && result != NULL;
    free(chunk);
    return result;
}

/* "<what> len=<bytes> fnv=<check value> hex=<the first 32 bytes>" */
static void ReportBytes(const char* what, BSTR text) {
    const UINT length = SysStringByteLen(text);
    char hex[65] = "";
    for (UINT i = 0; i < length && i < 32; ++i) {
        sprintf(hex + 2 * i, "%02x", ((const unsigned char*)text)[i]);
    }
    Report("%s len=%u fnv=%08lx hex=%s", what, length, Fnv1a(text, length), hex);
}

enum { kSend, kRawSend, kSendByValue, kRawSendByValue };

static int RunSend(Exports* x, const char* arg, int op) {
    static const char* const kSteps[] = {"send", "rawsend", "send_bv", "rawsend_bv"};
    int ok;
    BSTR text = MakePayload(arg, &ok);
    if (!ok) {
        return 0;
    }
    if (op == kSend || op == kRawSend) {
        (op == kSend ? x->send : x->rawSend)(&text);
        if (text) {
            ReportBytes(op == kSend ? "send var" : "rawsend var", text);
        } else {
            Report("%s var=null", kSteps[op]);
        }
        SysFreeString(text);
    } else {
        (op == kSendByValue ? x->sendByValue : x->rawSendByValue)(text);
        Report("%s done", kSteps[op]);
    }
    return 1;
}

static int RunOpen(Exports* x, const char* arg, int op) {
    int port = 0, baud = 0;
    (void)op;
    if (sscanf(arg, "%d:%d", &port, &baud) != 2) {
        return 0;
    }
    Report("open %d %d = %ld", port, baud, x->open(port, baud));
    return 1;
}

static int RunClose(Exports* x, const char* arg, int op) {
    (void)arg, (void)op;
    Report("close = %ld", x->close());
    return 1;
}

static int RunVersion(Exports* x, const char* arg, int op) {
    (void)arg, (void)op;
    BSTR text = x->version();
    ReportBytes("version", text);
    SysFreeString(text);
    return 1;
}

static int RunHold(Exports* x, const char* arg, int op) {
    (void)x, (void)op;
    WCHAR name[32];
    _snwprintf(name, 32, atoi(arg) >= 10 ? L"\\\\.\\COM%d" : L"COM%d", atoi(arg));
    name[31] = 0;
    HANDLE device = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, NULL);
    Report("hold %d %s", atoi(arg), device == INVALID_HANDLE_VALUE ? "held" : "free");
    if (device != INVALID_HANDLE_VALUE) {
        CloseHandle(device);
    }
    return 1;
}

static int RunUnload(Exports* x, const char* arg, int op) {
    (void)arg, (void)op;
    Report("unload = %d", FreeLibrary(x->module));
    return 1;
}

/* The documented ordinals are the positions in the Exports record, from 1. */
static int RunOrdinals(Exports* x, const char* arg, int op) {
    (void)arg, (void)op;
    FARPROC* slots = (FARPROC*)x;
    for (int i = 0; i < 7; ++i) {
        FARPROC by_ordinal = GetProcAddress(x->module, MAKEINTRESOURCEA(i + 1));
        Report("ordinal %d %s %s", i + 1, kNames[i],
               !by_ordinal              ? "missing"
               : by_ordinal == slots[i] ? "same"
                                        : "other");
        slots[i] = by_ordinal;
    }
    return 1;
}

static int RunStep(Exports* exports, const char* step) {
    static const struct {
        const char* name;
        int (*handler)(Exports* exports, const char* arg, int op);
        int op;
    } kSteps[] = {
        {"open", RunOpen, 0},
        {"close", RunClose, 0},
        {"send", RunSend, kSend},
        {"rawsend", RunSend, kRawSend},
        {"send_bv", RunSend, kSendByValue},
        {"rawsend_bv", RunSend, kRawSendByValue},
        {"version", RunVersion, 0},
        {"hold", RunHold, 0},
        {"unload", RunUnload, 0},
        {"ordinals", RunOrdinals, 0},
        {"threads", RunThreadedSends, 0},
        {"race", RunRace, 0},
        {"firstcall", RunFirstCalls, 0},
        {"memory", RunMemory, 0},
        {"loader", RunLoaderState, 0},
        {"slots", RunSlots, 0},
    };
    const char* colon = strchr(step, ':');
    size_t length = colon ? (size_t)(colon - step) : strlen(step);
    for (size_t i = 0; i < sizeof kSteps / sizeof kSteps[0]; ++i) {
        if (strlen(kSteps[i].name) == length && strncmp(step, kSteps[i].name, length) == 0) {
            return kSteps[i].handler(exports, colon ? colon + 1 : "", kSteps[i].op);
        }
    }
    return 0;
}

#ifdef WENDLE_LINKED
int main(int argc, char** argv) {
    Exports exports = {SER_CLOSE, SER_OPEN,    SER_RAWSEND,  SER_RAWSEND_BV,
                       SER_SEND,  SER_SEND_BV, SER_VERSINFO, GetModuleHandleA("Wendlev14.EXE")};
    const int first_step = 1;
#else
int main(int argc, char** argv) {
    if (argc < 2) {
        Report("usage: export_caller <Wendlev14.EXE> <step>...");
        return 2;
    }
    Exports exports;
    exports.module = LoadLibraryA(argv[1]);
    if (!exports.module) {
        Report("load failed err=%lu", GetLastError());
        return 2;
    }
    FARPROC* slots = (FARPROC*)&exports;
    for (int i = 0; i < 7; ++i) {
        slots[i] = GetProcAddress(exports.module, kNames[i]);
        if (!slots[i]) {
            Report("missing export %s", kNames[i]);
            return 2;
        }
    }
    Report("loaded base=%p", (void*)exports.module);
    const int first_step = 2;
#endif
    for (int i = first_step; i < argc; ++i) {
        if (!RunStep(&exports, argv[i])) {
            Report("bad step %s", argv[i]);
            return 2;
        }
    }
    Report("end");
    return 0;
}
