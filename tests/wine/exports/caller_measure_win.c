/* Steps that measure.
 *
 *   memory:<port>:<rounds>[:leak]   the process's memory before and after
 *       <rounds> rounds of the four sends with fresh strings and of version
 *       texts freed by the caller; `leak` makes the caller itself keep one
 *       string of the same size per round, to show that the measure sees it
 *   roundtrip:<port>:<rounds>   the time of one open, 64-byte send and close
 *       through the exports, beside the same done with the Win32 calls alone */
#include "caller_win.h"

#include <psapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

typedef struct {
    unsigned long heapBytes;
    unsigned long privateBytes;
    unsigned long workingSet;
} MemoryUse;

/* The bytes in use in every heap of the process, and the system's counters. */
static MemoryUse MeasureMemory(void) {
    MemoryUse use = {0, 0, 0};
    HANDLE heaps[64];
    DWORD count = GetProcessHeaps(64, heaps);
    for (DWORD i = 0; i < count && i < 64; ++i) {
        PROCESS_HEAP_ENTRY entry;
        entry.lpData = NULL;
        if (!HeapLock(heaps[i])) {
            continue;
        }
        while (HeapWalk(heaps[i], &entry)) {
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) {
                use.heapBytes += entry.cbData;
            }
        }
        HeapUnlock(heaps[i]);
    }
    PROCESS_MEMORY_COUNTERS_EX counters;
    memset(&counters, 0, sizeof counters);
    counters.cb = sizeof counters;
    if (GetProcessMemoryInfo(GetCurrentProcess(), (PROCESS_MEMORY_COUNTERS*)&counters,
                             sizeof counters)) {
        use.privateBytes = (unsigned long)counters.PrivateUsage;
        use.workingSet = (unsigned long)counters.WorkingSetSize;
    }
    return use;
}

static const char kMessage[] = "memory <77><69><77>\r\n";

/* Writes "memory MEM" three times and the message as it stands once. */
static void MemoryRound(const Exports* x, BSTR* kept) {
    UINT size = (UINT)(sizeof kMessage - 1);
    x->sendByValue(SysAllocStringByteLen(kMessage, size));
    x->rawSendByValue(SysAllocStringByteLen(kMessage, size));
    /* By reference, as VB and VBA callers and the Send button call: the
     * string replaced is SER_SEND's to free, the translation the caller's. */
    BSTR text = SysAllocStringByteLen(kMessage, size);
    x->send(&text);
    x->rawSend(&text);
    SysFreeString(text);
    BSTR version = x->version();
    SysFreeString(version);
    if (kept) {
        *kept = SysAllocStringByteLen(kMessage, size);
    }
}

int RunMemory(const Exports* exports, const char* arg) {
    int port = 0, rounds = 0;
    char mode[8] = "";
    if (sscanf(arg, "%d:%d:%7s", &port, &rounds, mode) < 2 || rounds < 1) {
        return 0;
    }
    BSTR* kept = strcmp(mode, "leak") == 0 ? calloc((size_t)rounds, sizeof(BSTR)) : NULL;
    Report("memory open = %ld", exports->open(port, 38400));
    /* The first rounds fill caches (the string cache, the runtime's heaps). */
    for (int i = 0; i < 2000; ++i) {
        MemoryRound(exports, NULL);
    }
    MemoryUse before = MeasureMemory();
    for (int i = 0; i < rounds; ++i) {
        MemoryRound(exports, kept ? &kept[i] : NULL);
    }
    MemoryUse after = MeasureMemory();
    Report("memory close = %ld", exports->close());
    Report("memory rounds=%d heap=%lu:%lu private=%lu:%lu workingset=%lu:%lu", rounds,
           before.heapBytes, after.heapBytes, before.privateBytes, after.privateBytes,
           before.workingSet, after.workingSet);
    if (kept) {
        for (int i = 0; i < rounds; ++i) {
            SysFreeString(kept[i]);
        }
        free(kept);
    }
    return 1;
}

static double Microseconds(LARGE_INTEGER from, LARGE_INTEGER to, LARGE_INTEGER frequency) {
    return (double)(to.QuadPart - from.QuadPart) * 1e6 / (double)frequency.QuadPart;
}

static int CompareDoubles(const void* a, const void* b) {
    double x = *(const double*)a, y = *(const double*)b;
    return (x > y) - (x < y);
}

static void Summarise(double* times, int count, double* median, double* mean) {
    double sum = 0;
    for (int i = 0; i < count; ++i) {
        sum += times[i];
    }
    qsort(times, (size_t)count, sizeof *times, CompareDoubles);
    *median = times[count / 2];
    *mean = sum / count;
}

static const char kPayload[] = "Wendle round trip: sixty-four bytes of plain text, no tokens..\r\n";

/* The least a program does for the same effect: open, one DCB write, one
 * write, close. */
static int DirectRoundTrip(const WCHAR* device) {
    HANDLE port = CreateFileW(device, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (port == INVALID_HANDLE_VALUE) {
        return 0;
    }
    DCB dcb;
    memset(&dcb, 0, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    GetCommState(port, &dcb);
    dcb.BaudRate = 9600;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    SetCommState(port, &dcb);
    DWORD written = 0;
    WriteFile(port, kPayload, sizeof kPayload - 1, &written, NULL);
    CloseHandle(port);
    return written == sizeof kPayload - 1;
}

/* The three calls, each timed; `parts` may be NULL. */
static int ExportsRoundTrip(const Exports* x, int port, LARGE_INTEGER frequency, double* parts) {
    BSTR text = SysAllocStringByteLen(kPayload, sizeof kPayload - 1);
    LARGE_INTEGER t[4];
    QueryPerformanceCounter(&t[0]);
    LONG opened = x->open(port, 9600);
    QueryPerformanceCounter(&t[1]);
    x->send(&text);
    QueryPerformanceCounter(&t[2]);
    x->close();
    QueryPerformanceCounter(&t[3]);
    SysFreeString(text);
    for (int i = 0; parts && i < 3; ++i) {
        parts[i] = Microseconds(t[i], t[i + 1], frequency);
    }
    return opened == 1;
}

enum { kWhole, kDirect, kOpen, kSend, kClose, kSeries };

int RunRoundTrip(const Exports* exports, const char* arg) {
    int port = 0, rounds = 0;
    if (sscanf(arg, "%d:%d", &port, &rounds) != 2 || rounds < 2) {
        return 0;
    }
    WCHAR device[32];
    DeviceName(port, device, 32);
    double* times[kSeries];
    for (int k = 0; k < kSeries; ++k) {
        times[k] = malloc(sizeof(double) * (size_t)rounds);
        if (!times[k]) {
            return 0;
        }
    }
    LARGE_INTEGER frequency, t0, t1;
    QueryPerformanceFrequency(&frequency);
    /* The first call prepares the module (and the system its libraries):
     * once per process, reported apart from the round trips. */
    QueryPerformanceCounter(&t0);
    int failures = !ExportsRoundTrip(exports, port, frequency, NULL);
    QueryPerformanceCounter(&t1);
    const double first = Microseconds(t0, t1, frequency);
    failures += !DirectRoundTrip(device);
    /* Alternating, so that both see the same state of the machine. */
    for (int i = 0; i < rounds; ++i) {
        double parts[3];
        QueryPerformanceCounter(&t0);
        failures += !ExportsRoundTrip(exports, port, frequency, parts);
        QueryPerformanceCounter(&t1);
        times[kWhole][i] = Microseconds(t0, t1, frequency);
        times[kOpen][i] = parts[0];
        times[kSend][i] = parts[1];
        times[kClose][i] = parts[2];
        QueryPerformanceCounter(&t0);
        failures += !DirectRoundTrip(device);
        QueryPerformanceCounter(&t1);
        times[kDirect][i] = Microseconds(t0, t1, frequency);
    }
    double median[kSeries], mean[kSeries];
    for (int k = 0; k < kSeries; ++k) {
        Summarise(times[k], rounds, &median[k], &mean[k]);
    }
    Report("roundtrip rounds=%d failures=%d payload=%u", rounds, failures,
           (unsigned)(sizeof kPayload - 1));
    Report("roundtrip first_call_us=%.1f", first);
    Report("roundtrip exports median_us=%.1f mean_us=%.1f", median[kWhole], mean[kWhole]);
    Report("roundtrip direct median_us=%.1f mean_us=%.1f", median[kDirect], mean[kDirect]);
    Report("roundtrip ratio median=%.2f mean=%.2f", median[kWhole] / median[kDirect],
           mean[kWhole] / mean[kDirect]);
    Report("roundtrip parts median_us open=%.1f send=%.1f close=%.1f", median[kOpen], median[kSend],
           median[kClose]);
    for (int k = 0; k < kSeries; ++k) {
        free(times[k]);
    }
    return 1;
}
