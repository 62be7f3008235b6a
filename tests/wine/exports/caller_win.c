/* export_caller <path of Wendlev14.EXE> <step>...   (LoadLibrary, GetProcAddress)
 * linked_caller <step>...   (serial/wendle.h and the import library)
 *
 * Steps, run in order, each printing its results one line each:
 *   open:<port>:<baud>   close   version   unload (FreeLibrary; exit follows)
 *   send:<payload>, rawsend:<payload>   by reference; print the variable after
 *   send_bv:<payload>, rawsend_bv:<payload>   a fresh string, by value
 *   ordinals   whether ordinal 1..7 is the function of its name (looked up by
 *       name); the calls go through the ordinals from then on
 *   threads:<port>[,<port>,<port>]:<threads>:<rounds>   every thread sends
 *       its own records "{T<thread>#<round>:<letters>}<13>" (or a raw CR),
 *       each with one call: through one port opened for them all, or, with
 *       three ports, each round opening one of them and closing it again
 *   firstcall:<threads>   the threads' first export calls, released together
 *   memory:<port>:<rounds>   the bytes in use in every heap before and after
 *       the rounds of the four sends and a version text freed
 *   loader:<state>, slots   see caller_image_win.c
 * A payload is `null` or `hex:<bytes in hex>`, optionally `*<count>`: the
 * bytes repeated `count` times. */
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

static int IsText(BSTR text, const char* expected) {
    return SysStringByteLen(text) == strlen(expected) &&
           memcmp(text, expected, strlen(expected)) == 0;
}

static int IsVersionText(BSTR text) {
    return IsText(text, "v1.3, 22 Oct 2012, https://wendle.example.org");
}

/* A fresh BSTR; *ok is cleared when the text is not a payload. */
static BSTR MakePayload(const char* text, int* ok) {
    const char* star = strchr(text, '*');
    const size_t digits = star ? (size_t)(star - text - 4) : strlen(text) - 4;
    const long count = star ? atol(star + 1) : 1;
    *ok = strcmp(text, "null") == 0;
    if (*ok || strncmp(text, "hex:", 4) != 0 || digits % 2 || count < 0) {
        return NULL;
    }
    BSTR result = SysAllocStringByteLen(NULL, (UINT)(digits / 2 * (size_t)count));
    unsigned char* out = (unsigned char*)result;
    for (size_t i = 0; result && i < digits / 2; ++i) {
        unsigned value;
        sscanf(text + 4 + 2 * i, "%2x", &value);
        out[i] = (unsigned char)value;
    }
    for (long n = 1; result && n < count; ++n) {
        memcpy(out + (size_t)n * digits / 2, out, digits / 2);
    }
    *ok = result != NULL;
    return result;
}

/* "<what> len=<bytes> fnv=<FNV-1a> hex=<the first 32 bytes>" */
static void ReportBytes(const char* what, BSTR text) {
    const UINT length = SysStringByteLen(text);
    const unsigned char* bytes = (const unsigned char*)text;
    unsigned long hash = 2166136261UL;
    char hex[65] = "";
    for (UINT i = 0; i < length; ++i) {
        hash = ((hash ^ bytes[i]) * 16777619UL) & 0xffffffffUL;
    }
    for (UINT i = 0; i < length && i < 32; ++i) {
        sprintf(hex + 2 * i, "%02x", bytes[i]);
    }
    Report("%s len=%u fnv=%08lx hex=%s", what, length, hash, hex);
}

typedef struct {
    const Exports* x;
    HANDLE start;
    int thread, rounds, ports[3];
    LONG opens, failures;
} Job;

/* One record, sent with the thread's own kind of send. */
static void SendRecord(const Exports* x, int thread, int n) {
    char record[96];
    int size = sprintf(record, "{T%d#%d:", thread, n);
    for (int i = 0; i < (n * 7 + thread) % 40; ++i) {
        record[size++] = (char)('a' + (n + i) % 26);
    }
    size += sprintf(record + size, "}%s", thread % 2 ? "\r" : "<13>");
    BSTR text = SysAllocStringByteLen(record, (UINT)size);
    if (thread % 4 < 2) {
        (thread % 4 ? x->rawSend : x->send)(&text);
        SysFreeString(text);
    } else {
        (thread % 4 == 3 ? x->rawSendByValue : x->sendByValue)(text);
    }
}

static DWORD WINAPI Work(LPVOID parameter) {
    static const LONG kBauds[] = {1200, 2400, 4800, 9600, 19200, 38400};
    Job* job = parameter;
    const Exports* x = job->x;
    const int t = job->thread;
    WaitForSingleObject(job->start, INFINITE);
    if (job->rounds == 0 &&
        t % 3 == 0) { /* firstcall: a call whose result shows the module works */
        BSTR version = x->version();
        job->failures = !IsVersionText(version);
        SysFreeString(version);
    } else if (job->rounds == 0 && t % 3 == 1) {
        job->failures = x->close() != 1;
    } else if (job->rounds == 0) {
        BSTR text = SysAllocStringByteLen("A<13>", 5);
        x->send(&text);
        job->failures = !IsText(text, "A\r");
        SysFreeString(text);
    }
    for (int n = 0; n < job->rounds; ++n) {
        if (job->ports[1]) {
            job->opens += x->open(job->ports[(n + t) % 3], kBauds[(n + t) % 6]) == 1;
        }
        SendRecord(x, t, n);
        if (job->ports[1] && n % 7 == t % 7) {
            BSTR version = x->version();
            job->failures += x->open(0, 9600) != 0 || !IsVersionText(version);
            SysFreeString(version);
        }
        if (job->ports[1]) {
            job->failures += x->close() != 1;
        }
    }
    return 0;
}

static int RunThreads(Exports* x, const char* step) {
    Job jobs[64];
    HANDLE handles[64];
    int ports[3] = {0, 0, 0}, threads = 0, rounds = 0;
    LONG opens = 0, failures = 0;
    if (sscanf(step, "firstcall:%d", &threads) != 1 &&
        sscanf(step, "threads:%d:%d:%d", &ports[0], &threads, &rounds) != 3 &&
        sscanf(step, "threads:%d,%d,%d:%d:%d", &ports[0], &ports[1], &ports[2], &threads,
               &rounds) != 5) {
        return 0;
    }
    HANDLE start = CreateEventW(NULL, TRUE, FALSE, NULL);
    if (!start || threads < 1 || threads > 64) {
        return 0;
    }
    if (rounds && !ports[1]) {
        Report("open %d 38400 = %ld", ports[0], x->open(ports[0], 38400));
    }
    for (int i = 0; i < threads; ++i) {
        const Job job = {x, start, i, rounds, {ports[0], ports[1], ports[2]}, 0, 0};
        jobs[i] = job;
        handles[i] = CreateThread(NULL, 0, Work, &jobs[i], 0, NULL);
        if (!handles[i]) {
            return 0;
        }
    }
    SetEvent(start);
    WaitForMultipleObjects((DWORD)threads, handles, TRUE, INFINITE);
    for (int i = 0; i < threads; ++i) {
        CloseHandle(handles[i]);
        opens += jobs[i].opens;
        failures += jobs[i].failures;
    }
    CloseHandle(start);
    if (rounds && !ports[1]) {
        Report("close = %ld", x->close());
    }
    Report("threads opens=%ld failures=%ld", opens, failures);
    return 1;
}

static unsigned long HeapBytesInUse(void) {
    HANDLE heaps[64];
    const DWORD count = GetProcessHeaps(64, heaps);
    unsigned long bytes = 0;
    for (DWORD i = 0; i < count && i < 64; ++i) {
        PROCESS_HEAP_ENTRY entry = {0};
        HeapLock(heaps[i]);
        while (HeapWalk(heaps[i], &entry)) {
            bytes += entry.wFlags & PROCESS_HEAP_ENTRY_BUSY ? entry.cbData : 0;
        }
        HeapUnlock(heaps[i]);
    }
    return bytes;
}

/* Writes "memory MEM\r\n" three times and the message as it stands once. */
static void MemoryRound(const Exports* x) {
    static const char kMessage[] = "memory <77><69><77>\r\n";
    const UINT size = (UINT)(sizeof kMessage - 1);
    x->sendByValue(SysAllocStringByteLen(kMessage, size));
    x->rawSendByValue(SysAllocStringByteLen(kMessage, size));
    /* By reference, as VB and VBA callers and the Send button call: the
     * string replaced is SER_SEND's to free, the translation the caller's. */
    BSTR text = SysAllocStringByteLen(kMessage, size);
    x->send(&text);
    x->rawSend(&text);
    SysFreeString(text);
    SysFreeString(x->version());
}

static int RunMemory(Exports* x, int port, int rounds) {
    Report("open %d 38400 = %ld", port, x->open(port, 38400));
    /* The first rounds fill caches (the string cache, the runtime's heaps). */
    for (int i = 0; i < 2000; ++i) {
        MemoryRound(x);
    }
    const unsigned long before = HeapBytesInUse();
    for (int i = 0; i < rounds; ++i) {
        MemoryRound(x);
    }
    const unsigned long after = HeapBytesInUse();
    Report("close = %ld", x->close());
    Report("memory heap=%lu:%lu", before, after);
    return 1;
}

static int RunStep(Exports* x, const char* step) {
    static const char* const kSends[] = {"send:", "rawsend:", "send_bv:", "rawsend_bv:"};
    int a, b, ok;
    FARPROC* slots = (FARPROC*)x;
    for (int op = 0; op < 4; ++op) {
        if (strncmp(step, kSends[op], strlen(kSends[op])) == 0) {
            BSTR text = MakePayload(step + strlen(kSends[op]), &ok);
            if (!ok) {
                return 0;
            }
            if (op >= 2) {
                (op == 2 ? x->sendByValue : x->rawSendByValue)(text);
                return 1;
            }
            (op == 0 ? x->send : x->rawSend)(&text);
            if (text) {
                ReportBytes(op == 0 ? "send var" : "rawsend var", text);
            } else {
                Report("%s var=null", op == 0 ? "send" : "rawsend");
            }
            SysFreeString(text);
            return 1;
        }
    }
    if (sscanf(step, "open:%d:%d", &a, &b) == 2) {
        Report("open %d %d = %ld", a, b, x->open(a, b));
    } else if (strcmp(step, "close") == 0) {
        Report("close = %ld", x->close());
    } else if (strcmp(step, "version") == 0) {
        BSTR text = x->version();
        ReportBytes("version", text);
        SysFreeString(text);
    } else if (strcmp(step, "unload") == 0) {
        Report("unload = %d", FreeLibrary(x->module));
    } else if (strcmp(step, "ordinals") == 0) {
        for (int i = 0; i < 7; ++i) {
            FARPROC by_ordinal = GetProcAddress(x->module, MAKEINTRESOURCEA(i + 1));
            FARPROC by_name = GetProcAddress(x->module, kNames[i]);
            Report("ordinal %d %s %s", i + 1, kNames[i],
                   by_ordinal && by_ordinal == by_name ? "same" : "other");
            slots[i] = by_ordinal;
        }
    } else if (sscanf(step, "memory:%d:%d", &a, &b) == 2) {
        return RunMemory(x, a, b);
    } else if (strncmp(step, "loader:", 7) == 0) {
        return RunLoaderState(x, step + 7);
    } else if (strcmp(step, "slots") == 0) {
        return RunSlots(x, "");
    } else {
        return RunThreads(x, step);
    }
    return 1;
}

int main(int argc, char** argv) {
#ifdef WENDLE_LINKED
    Exports x = {SER_CLOSE, SER_OPEN,    SER_RAWSEND,  SER_RAWSEND_BV,
                 SER_SEND,  SER_SEND_BV, SER_VERSINFO, GetModuleHandleA("Wendlev14.EXE")};
    const int first_step = 1;
#else
    Exports x;
    x.module = argc > 1 ? LoadLibraryA(argv[1]) : NULL;
    for (int i = 0; x.module && i < 7; ++i) {
        ((FARPROC*)&x)[i] = GetProcAddress(x.module, kNames[i]);
        if (!((FARPROC*)&x)[i]) {
            Report("missing export %s", kNames[i]);
            return 2;
        }
    }
    if (!x.module) {
        Report("usage: export_caller <Wendlev14.EXE> <step>... (load failed err=%lu)",
               GetLastError());
        return 2;
    }
    const int first_step = 2;
#endif
    for (int i = first_step; i < argc; ++i) {
        if (!RunStep(&x, argv[i])) {
            Report("bad step %s", argv[i]);
            return 2;
        }
    }
    Report("end");
    return 0;
}
