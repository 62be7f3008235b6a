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
 *   pause:<ms>                prints "pause" and sleeps, for the harness to
 *                             look at the process from outside
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

void DeviceName(int port, WCHAR* name, size_t capacity) {
    _snwprintf(name, capacity, port >= 10 ? L"\\\\.\\COM%d" : L"COM%d", port);
    name[capacity - 1] = 0;
}

void JoinThreads(HANDLE* threads, int count) {
    for (int i = 0; i < count; ++i) {
        if (threads[i]) {
            WaitForSingleObject(threads[i], INFINITE);
            CloseHandle(threads[i]);
        }
    }
}

static int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

/* Decodes hex up to `end` (or the string's end) into `out`; the byte count,
 * or -1 when the text is not hex. */
static long DecodeHex(const char* hex, const char* end, unsigned char* out) {
    long count = 0;
    for (; hex + 1 < end && *hex && hex[1]; hex += 2) {
        int high = HexValue(hex[0]);
        int low = HexValue(hex[1]);
        if (high < 0 || low < 0) {
            return -1;
        }
        out[count++] = (unsigned char)(high * 16 + low);
    }
    return (hex < end && *hex) ? -1 : count;
}

/* Builds a payload as a fresh BSTR. *ok is cleared when the text is not a
 * payload; a `null` payload is a valid null BSTR. */
static BSTR MakePayload(const char* text, int* ok) {
    *ok = 1;
    if (strcmp(text, "null") == 0) {
        return NULL;
    }
    const char* end = text + strlen(text);
    long size = 0;
    const char* hex = NULL;
    if (strncmp(text, "hex:", 4) == 0) {
        hex = text + 4;
        size = (long)(end - hex) / 2;
    } else if (strncmp(text, "fill:", 5) == 0) {
        hex = text + 5;
        const char* colon = strchr(hex, ':');
        if (!colon) {
            *ok = 0;
            return NULL;
        }
        end = colon;
        size = atol(colon + 1);
    } else {
        *ok = 0;
        return NULL;
    }
    unsigned char* chunk = malloc((size_t)(end - hex) / 2 + 1);
    long chunkSize = chunk ? DecodeHex(hex, end, chunk) : -1;
    BSTR result = NULL;
    if (chunkSize > 0 || (chunkSize == 0 && size == 0)) {
        result = SysAllocStringByteLen(NULL, (UINT)size);
        for (long i = 0; result && i < size; ++i) {
            ((unsigned char*)result)[i] = chunk[i % chunkSize];
        }
    }
    *ok = result != NULL;
    free(chunk);
    return result;
}

static void ReportVariable(const char* step, BSTR text) {
    if (text == NULL) {
        Report("%s var=null", step);
        return;
    }
    UINT length = SysStringByteLen(text);
    char hex[2 * 32 + 1] = "";
    for (UINT i = 0; i < length && i < 32; ++i) {
        sprintf(hex + 2 * i, "%02x", ((unsigned char*)text)[i]);
    }
    Report("%s var=len:%u:fnv:%08lx:head:%s", step, length, Fnv1a(text, length), hex);
}

static int RunSend(const Exports* exports, const char* step, const char* arg) {
    int ok;
    BSTR text = MakePayload(arg, &ok);
    if (!ok) {
        return 0;
    }
    if (strcmp(step, "send") == 0 || strcmp(step, "rawsend") == 0) {
        (strcmp(step, "send") == 0 ? exports->send : exports->rawSend)(&text);
        ReportVariable(step, text);
        SysFreeString(text);
    } else {
        (strcmp(step, "send_bv") == 0 ? exports->sendByValue : exports->rawSendByValue)(text);
        Report("%s done", step);
    }
    return 1;
}

static int RunVersion(const Exports* exports) {
    BSTR text = exports->version();
    UINT length = SysStringByteLen(text);
    char* hex = malloc(2 * (size_t)length + 1);
    if (!hex) {
        return 0;
    }
    hex[0] = 0;
    for (UINT i = 0; i < length; ++i) {
        sprintf(hex + 2 * i, "%02x", ((unsigned char*)text)[i]);
    }
    Report("version len=%u hex=%s", length, hex);
    free(hex);
    SysFreeString(text);
    return 1;
}

static int RunHold(const char* arg) {
    WCHAR name[32];
    DeviceName(atoi(arg), name, 32);
    HANDLE device = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, NULL);
    if (device == INVALID_HANDLE_VALUE) {
        Report("hold %d held err=%lu", atoi(arg), GetLastError());
    } else {
        CloseHandle(device);
        Report("hold %d free", atoi(arg));
    }
    return 1;
}

static int StepOpen(const Exports* exports, const char* arg) {
    int port = 0, baud = 0;
    if (sscanf(arg, "%d:%d", &port, &baud) != 2) {
        return 0;
    }
    Report("open %d %d = %ld", port, baud, exports->open(port, baud));
    return 1;
}

static int StepClose(const Exports* exports, const char* arg) {
    (void)arg;
    Report("close = %ld", exports->close());
    return 1;
}

static int StepSend(const Exports* exports, const char* arg) {
    return RunSend(exports, "send", arg);
}

static int StepRawSend(const Exports* exports, const char* arg) {
    return RunSend(exports, "rawsend", arg);
}

static int StepSendByValue(const Exports* exports, const char* arg) {
    return RunSend(exports, "send_bv", arg);
}

static int StepRawSendByValue(const Exports* exports, const char* arg) {
    return RunSend(exports, "rawsend_bv", arg);
}

static int StepVersion(const Exports* exports, const char* arg) {
    (void)arg;
    return RunVersion(exports);
}

static int StepHold(const Exports* exports, const char* arg) {
    (void)exports;
    return RunHold(arg);
}

static int StepPause(const Exports* exports, const char* arg) {
    (void)exports;
    Report("pause");
    Sleep((DWORD)atoi(arg));
    return 1;
}

static int RunStep(const Exports* exports, const char* step) {
    static const struct {
        const char* name;
        StepHandler handler;
    } kSteps[] = {{"open", StepOpen},
                  {"close", StepClose},
                  {"send", StepSend},
                  {"rawsend", StepRawSend},
                  {"send_bv", StepSendByValue},
                  {"rawsend_bv", StepRawSendByValue},
                  {"version", StepVersion},
                  {"hold", StepHold},
                  {"pause", StepPause},
                  {"threads", RunThreadedSends},
                  {"race", RunRace},
                  {"firstcall", RunFirstCalls},
                  {"memory", RunMemory}};
    const char* colon = strchr(step, ':');
    size_t nameLength = colon ? (size_t)(colon - step) : strlen(step);
    for (size_t i = 0; i < sizeof kSteps / sizeof kSteps[0]; ++i) {
        if (strlen(kSteps[i].name) == nameLength &&
            strncmp(step, kSteps[i].name, nameLength) == 0) {
            return kSteps[i].handler(exports, colon ? colon + 1 : "");
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
            continue;
        }
        if (strcmp(argv[i], "ordinals") == 0) {
            BindByOrdinal(module, &exports, kNames);
            continue;
        }
        if (!RunStep(&exports, argv[i])) {
            Report("bad step %s", argv[i]);
            return 2;
        }
    }
    Report("end");
    return 0;
}
