/* export_caller <path of Wendlev14.EXE> <step> [<step> ...]
 *
 * Steps, run in order:
 *   open:<port>:<baud>        SER_OPEN; prints its result
 *   close                     SER_CLOSE; prints its result
 *   send:<payload>            SER_SEND on a variable; prints the variable after
 *   rawsend:<payload>         SER_RAWSEND on a variable; prints the variable after
 *   send_bv:<payload>         SER_SEND_BV with a fresh string
 *   rawsend_bv:<payload>      SER_RAWSEND_BV with a fresh string
 *   version                   SER_VERSINFO; prints the text in hex, then frees it
 *   hold:<port>               opens the device itself: is it held by someone?
 *   unload                    FreeLibrary on the EXE (the process then exits)
 *   ordinals                  looks each export up by its ordinal, 1 to 7 in
 *                             the order of the Exports record, prints whether
 *                             that is the function of its name, and calls
 *                             through the ordinals from then on
 *   threads:, race:, firstcall:, memory:   see their files
 * A payload is `null`, `hex:<bytes in hex>` or `fill:<chunk in hex>:<size>`
 * (the chunk repeated to `size` bytes). */
#include "caller_win.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

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

static void ReportBytes(const char* what, const void* bytes, UINT length, UINT shown) {
    char* hex = malloc(2 * (size_t)shown + 1);
    if (!hex) {
        return;
    }
    hex[0] = 0;
    for (UINT i = 0; i < length && i < shown; ++i) {
        sprintf(hex + 2 * i, "%02x", ((const unsigned char*)bytes)[i]);
    }
    Report("%s len=%u fnv=%08lx hex=%s", what, length, Fnv1a(bytes, length), hex);
    free(hex);
}

enum { kSend, kRawSend, kSendByValue, kRawSendByValue };

static int RunSend(const Exports* x, const char* arg, int op) {
    static const char* const kNames[] = {"send", "rawsend", "send_bv", "rawsend_bv"};
    int ok;
    BSTR text = MakePayload(arg, &ok);
    if (!ok) {
        return 0;
    }
    if (op == kSend || op == kRawSend) {
        (op == kSend ? x->send : x->rawSend)(&text);
        if (text) {
            ReportBytes(op == kSend ? "send var" : "rawsend var", text, SysStringByteLen(text), 32);
        } else {
            Report("%s var=null", kNames[op]);
        }
        SysFreeString(text);
    } else {
        (op == kSendByValue ? x->sendByValue : x->rawSendByValue)(text);
        Report("%s done", kNames[op]);
    }
    return 1;
}

static int RunOpen(const Exports* x, const char* arg, int op) {
    int port = 0, baud = 0;
    (void)op;
    if (sscanf(arg, "%d:%d", &port, &baud) != 2) {
        return 0;
    }
    Report("open %d %d = %ld", port, baud, x->open(port, baud));
    return 1;
}

static int RunClose(const Exports* x, const char* arg, int op) {
    (void)arg, (void)op;
    Report("close = %ld", x->close());
    return 1;
}

static int RunVersion(const Exports* x, const char* arg, int op) {
    (void)arg, (void)op;
    BSTR text = x->version();
    ReportBytes("version", text, SysStringByteLen(text), SysStringByteLen(text));
    SysFreeString(text);
    return 1;
}

static int RunHold(const Exports* x, const char* arg, int op) {
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

static int RunStep(const Exports* exports, const char* step) {
    static const struct {
        const char* name;
        int (*handler)(const Exports* exports, const char* arg, int op);
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
        {"threads", RunThreadedSends, 0},
        {"race", RunRace, 0},
        {"firstcall", RunFirstCalls, 0},
        {"memory", RunMemory, 0},
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

/* The documented ordinals are the positions in the Exports record, from 1. */
static void BindByOrdinal(HMODULE module, Exports* exports, const char* const* names) {
    FARPROC* slots = (FARPROC*)exports;
    for (int i = 0; i < 7; ++i) {
        FARPROC by_ordinal = GetProcAddress(module, MAKEINTRESOURCEA(i + 1));
        Report("ordinal %d %s %s", i + 1, names[i],
               !by_ordinal              ? "missing"
               : by_ordinal == slots[i] ? "same"
                                        : "other");
        slots[i] = by_ordinal;
    }
}

int main(int argc, char** argv) {
    if (argc < 2) {
        Report("usage: export_caller <Wendlev14.EXE> <step>...");
        return 2;
    }
    HMODULE module = LoadLibraryA(argv[1]);
    if (!module) {
        Report("load failed err=%lu", GetLastError());
        return 2;
    }
    Exports exports;
    static const char* const kNames[] = {"SER_CLOSE",      "SER_OPEN", "SER_RAWSEND",
                                         "SER_RAWSEND_BV", "SER_SEND", "SER_SEND_BV",
                                         "SER_VERSINFO"};
    FARPROC* slots = (FARPROC*)&exports;
    for (int i = 0; i < 7; ++i) {
        slots[i] = GetProcAddress(module, kNames[i]);
        if (!slots[i]) {
            Report("missing export %s", kNames[i]);
            return 2;
        }
    }
    Report("loaded base=%p", (void*)module);
    for (int i = 2; i < argc; ++i) {
        if (strcmp(argv[i], "unload") == 0) {
            Report("unload = %d", FreeLibrary(module));
        } else if (strcmp(argv[i], "ordinals") == 0) {
            BindByOrdinal(module, &exports, kNames);
        } else if (!RunStep(&exports, argv[i])) {
            Report("bad step %s", argv[i]);
            return 2;
        }
    }
    Report("end");
    return 0;
}
