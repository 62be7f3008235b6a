/* Steps that call the exports many times over.
 *
 *   threads:<port>:<threads>:<messages>   one open port, every thread sends
 *       its own numbered, checksummed records, each with one export call
 *   race:<port>,<port>,<port>:<threads>:<rounds>   opens, sends and closes
 *       from every thread on three ports at once
 *   firstcall:<threads>   the threads' first export calls, released together
 *   memory:<port>:<rounds>[:leak]   the process's memory before and after
 *       <rounds> rounds of the four sends with fresh strings and of version
 *       texts freed by the caller; `leak` makes the caller itself keep one
 *       string of the same size per round, to show that the measure sees it */
#include "caller_win.h"

#include <psapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

typedef struct {
    const Exports* exports;
    HANDLE start;
    int thread;
    int count;
    const int* ports;
    LONG opens;
    LONG failures;
} ThreadJob;

/* Runs `routine` on `threads` jobs of `count` rounds each, released
 * together; adds up their opens and failures. */
static int RunTogether(LPTHREAD_START_ROUTINE routine, const Exports* exports, int threads,
                       int count, const int* ports, LONG* opens, LONG* failures) {
    ThreadJob jobs[64];
    HANDLE handles[64];
    HANDLE start = CreateEventW(NULL, TRUE, FALSE, NULL);
    if (!start || threads < 1 || threads > 64) {
        return 0;
    }
    for (int i = 0; i < threads; ++i) {
        const ThreadJob job = {exports, start, i, count, ports, 0, 0};
        jobs[i] = job;
        handles[i] = CreateThread(NULL, 0, routine, &jobs[i], 0, NULL);
        if (!handles[i]) {
            Report("CreateThread failed err=%lu", GetLastError());
            exit(2);
        }
    }
    SetEvent(start);
    WaitForMultipleObjects((DWORD)threads, handles, TRUE, INFINITE);
    *opens = *failures = 0;
    for (int i = 0; i < threads; ++i) {
        CloseHandle(handles[i]);
        *opens += jobs[i].opens;
        *failures += jobs[i].failures;
    }
    CloseHandle(start);
    return 1;
}

/* A record "{T<thread>#<number>:<letters>:<fnv of what precedes>}" ends with
 * a carriage return: the token <13> for the translating sends, the byte
 * itself for the raw ones. Every fourth thread uses each of the four sends. */
static DWORD WINAPI SendRecords(LPVOID parameter) {
    ThreadJob* job = parameter;
    const Exports* x = job->exports;
    WaitForSingleObject(job->start, INFINITE);
    for (int n = 0; n < job->count; ++n) {
        char body[96];
        int length = sprintf(body, "T%d#%d:", job->thread, n);
        for (int i = 0; i < (n * 7 + job->thread) % 40; ++i) {
            body[length++] = (char)('a' + (n + i) % 26);
        }
        body[length] = 0;
        char record[128];
        const int op = job->thread % 4;
        int size = sprintf(record, "{%s:%08lx}%s", body, Fnv1a(body, (size_t)length),
                           op % 2 == 0 ? "<13>" : "\r");
        BSTR text = SysAllocStringByteLen(record, (UINT)size);
        if (op == 0 || op == 1) {
            (op == 0 ? x->send : x->rawSend)(&text);
            SysFreeString(text);
        } else {
            (op == 2 ? x->sendByValue : x->rawSendByValue)(text);
        }
    }
    return 0;
}

int RunThreadedSends(Exports* exports, const char* arg, int op) {
    (void)op;
    int port, threads, messages;
    LONG opens, failures;
    if (sscanf(arg, "%d:%d:%d", &port, &threads, &messages) != 3) {
        return 0;
    }
    Report("threads open = %ld", exports->open(port, 38400));
    if (!RunTogether(SendRecords, exports, threads, messages, NULL, &opens, &failures)) {
        return 0;
    }
    Report("threads close = %ld", exports->close());
    return 1;
}

/* Each round: open one of the ports, send a translated and a raw unit,
 * close; every seventh round a refused open and the version text as well.
 * The units "x\r" and "yy\r" must reach whichever port is in the slot whole. */
static DWORD WINAPI Race(LPVOID parameter) {
    ThreadJob* job = parameter;
    const Exports* x = job->exports;
    static const LONG kBauds[] = {1200, 2400, 4800, 9600, 19200, 38400};
    WaitForSingleObject(job->start, INFINITE);
    for (int n = 0; n < job->count; ++n) {
        job->opens +=
            x->open(job->ports[(n + job->thread) % 3], kBauds[(n + job->thread) % 6]) == 1;
        x->sendByValue(SysAllocStringByteLen("x<13>", 5));
        BSTR raw = SysAllocStringByteLen("yy\r", 3);
        x->rawSend(&raw);
        SysFreeString(raw);
        if (n % 7 == job->thread % 7) {
            job->failures += x->open(0, 9600) != 0;
            BSTR version = x->version();
            job->failures += !IsVersionText(version);
            SysFreeString(version);
        }
        job->failures += x->close() != 1;
    }
    return 0;
}

int RunRace(Exports* exports, const char* arg, int op) {
    (void)op;
    int ports[3], threads, rounds;
    LONG opens, failures;
    if (sscanf(arg, "%d,%d,%d:%d:%d", &ports[0], &ports[1], &ports[2], &threads, &rounds) != 5 ||
        !RunTogether(Race, exports, threads, rounds, ports, &opens, &failures)) {
        return 0;
    }
    Report("race done opens=%ld of %d failures=%ld", opens, threads * rounds, failures);
    return 1;
}

/* The first export call of the process, made by every thread at once with
 * one of three exports whose results show that the module works. */
static DWORD WINAPI FirstCall(LPVOID parameter) {
    ThreadJob* job = parameter;
    const Exports* x = job->exports;
    WaitForSingleObject(job->start, INFINITE);
    if (job->thread % 3 == 0) {
        BSTR version = x->version();
        job->failures = !IsVersionText(version);
        SysFreeString(version);
    } else if (job->thread % 3 == 1) {
        job->failures = x->close() != 1;
    } else {
        BSTR text = SysAllocStringByteLen("A<13>", 5);
        x->send(&text);
        job->failures = SysStringByteLen(text) != 2 || memcmp(text, "A\r", 2) != 0;
        SysFreeString(text);
    }
    return 0;
}

int RunFirstCalls(Exports* exports, const char* arg, int op) {
    (void)op;
    const int threads = atoi(arg);
    LONG opens, failures;
    if (!RunTogether(FirstCall, exports, threads, 0, NULL, &opens, &failures)) {
        return 0;
    }
    Report("firstcall ok=%ld of %d", threads - failures, threads);
    return 1;
}

/* The bytes in use in every heap of the process, and its working set. */
static void MeasureMemory(unsigned long* heap_bytes, unsigned long* working_set) {
    HANDLE heaps[64];
    DWORD count = GetProcessHeaps(64, heaps);
    *heap_bytes = 0;
    for (DWORD i = 0; i < count && i < 64; ++i) {
        PROCESS_HEAP_ENTRY entry;
        entry.lpData = NULL;
        if (!HeapLock(heaps[i])) {
            continue;
        }
        while (HeapWalk(heaps[i], &entry)) {
            *heap_bytes += entry.wFlags & PROCESS_HEAP_ENTRY_BUSY ? entry.cbData : 0;
        }
        HeapUnlock(heaps[i]);
    }
    PROCESS_MEMORY_COUNTERS counters;
    memset(&counters, 0, sizeof counters);
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    *working_set = (unsigned long)counters.WorkingSetSize;
}

/* Writes "memory MEM" three times and the message as it stands once. */
static void MemoryRound(const Exports* x, BSTR* kept) {
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
    if (kept) {
        *kept = SysAllocStringByteLen(kMessage, size);
    }
}

int RunMemory(Exports* exports, const char* arg, int op) {
    (void)op;
    int port = 0, rounds = 0;
    char mode[8] = "";
    if (sscanf(arg, "%d:%d:%7s", &port, &rounds, mode) < 2 || rounds < 1) {
        return 0;
    }
    BSTR* kept = strcmp(mode, "leak") == 0 ? calloc((size_t)rounds, sizeof(BSTR)) : NULL;
    unsigned long heap_before, heap_after, set_before, set_after;
    Report("memory open = %ld", exports->open(port, 38400));
    /* The first rounds fill caches (the string cache, the runtime's heaps). */
    for (int i = 0; i < 2000; ++i) {
        MemoryRound(exports, NULL);
    }
    MeasureMemory(&heap_before, &set_before);
    for (int i = 0; i < rounds; ++i) {
        MemoryRound(exports, kept ? &kept[i] : NULL);
    }
    MeasureMemory(&heap_after, &set_after);
    Report("memory close = %ld", exports->close());
    Report("memory rounds=%d heap=%lu:%lu workingset=%lu:%lu", rounds, heap_before, heap_after,
           set_before, set_after);
    for (int i = 0; kept && i < rounds; ++i) {
        SysFreeString(kept[i]);
    }
    free(kept);
    return 1;
}
