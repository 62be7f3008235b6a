/* Steps that call the exports from several threads at once.
 *
 *   threads:<port>:<threads>:<messages>   one open port, every thread sends
 *       its own numbered, checksummed records, each with one export call
 *   race:<ports, comma-separated>:<threads>:<rounds>   opens, sends and
 *       closes from every thread on a few ports at once
 *   firstcall:<threads>   the threads' first export calls, released together */
#include "caller_win.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

typedef struct {
    const Exports* exports;
    HANDLE start;
    int thread;
    int count;
    const int* ports;
    int port_count;
    LONG opens;
    LONG failures;
} ThreadJob;

/* One job per thread, each of `count` rounds; the rest of each job is zero. */
static void PrepareJobs(ThreadJob* jobs, int threads, const Exports* exports, int count) {
    for (int i = 0; i < threads; ++i) {
        const ThreadJob job = {.exports = exports, .thread = i, .count = count};
        jobs[i] = job;
    }
}

static int IsVersionText(BSTR text) {
    static const char kVersion[] = "v1.3, 22 Oct 2012, https://wendle.example.org";
    return SysStringByteLen(text) == sizeof kVersion - 1 &&
           memcmp(text, kVersion, sizeof kVersion - 1) == 0;
}

/* Starts `count` threads on `jobs`, lets them go together, waits for them. */
static int RunTogether(LPTHREAD_START_ROUTINE routine, ThreadJob* jobs, int count) {
    HANDLE start = CreateEventW(NULL, TRUE, FALSE, NULL);
    HANDLE threads[64] = {0};
    if (!start || count > 64) {
        return 0;
    }
    for (int i = 0; i < count; ++i) {
        jobs[i].start = start;
        threads[i] = CreateThread(NULL, 0, routine, &jobs[i], 0, NULL);
    }
    SetEvent(start);
    for (int i = 0; i < count; ++i) {
        if (threads[i]) {
            WaitForSingleObject(threads[i], INFINITE);
            CloseHandle(threads[i]);
        }
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
        switch (op) {
        case 0:
            x->send(&text);
            SysFreeString(text);
            break;
        case 1:
            x->rawSend(&text);
            SysFreeString(text);
            break;
        case 2:
            x->sendByValue(text);
            break;
        default:
            x->rawSendByValue(text);
            break;
        }
    }
    return 0;
}

int RunThreadedSends(const Exports* exports, const char* arg, int op) {
    (void)op;
    int port, threads, messages;
    if (sscanf(arg, "%d:%d:%d", &port, &threads, &messages) != 3 || threads > 64) {
        return 0;
    }
    ThreadJob jobs[64];
    PrepareJobs(jobs, threads, exports, messages);
    Report("threads open = %ld", exports->open(port, 38400));
    if (!RunTogether(SendRecords, jobs, threads)) {
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
        int port = job->ports[(n + job->thread) % job->port_count];
        job->opens += x->open(port, kBauds[(n + job->thread) % 6]) == 1;
        x->sendByValue(SysAllocStringByteLen("x<13>", 5));
        BSTR raw = SysAllocStringByteLen("yy\r", 3);
        x->rawSend(&raw);
        SysFreeString(raw);
        if (n % 7 == job->thread % 7) {
            if (x->open(0, 9600) != 0) {
                InterlockedIncrement(&job->failures);
            }
            BSTR version = x->version();
            if (!IsVersionText(version)) {
                InterlockedIncrement(&job->failures);
            }
            SysFreeString(version);
        }
        if (x->close() != 1) {
            InterlockedIncrement(&job->failures);
        }
    }
    return 0;
}

int RunRace(const Exports* exports, const char* arg, int op) {
    (void)op;
    int ports[8];
    int port_count = 0;
    const char* p = arg;
    while (port_count < 8) {
        ports[port_count++] = atoi(p);
        p += strspn(p, "0123456789");
        if (*p != ',') {
            break;
        }
        ++p;
    }
    int threads, rounds;
    if (*p != ':' || sscanf(p + 1, "%d:%d", &threads, &rounds) != 2 || threads > 64) {
        return 0;
    }
    ThreadJob jobs[64];
    PrepareJobs(jobs, threads, exports, rounds);
    for (int i = 0; i < threads; ++i) {
        jobs[i].ports = ports;
        jobs[i].port_count = port_count;
    }
    if (!RunTogether(Race, jobs, threads)) {
        return 0;
    }
    LONG opens = 0, failures = 0;
    for (int i = 0; i < threads; ++i) {
        opens += jobs[i].opens;
        failures += jobs[i].failures;
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
    switch (job->thread % 3) {
    case 0: {
        BSTR version = x->version();
        job->failures = !IsVersionText(version);
        SysFreeString(version);
        break;
    }
    case 1:
        job->failures = x->close() != 1;
        break;
    default: {
        BSTR text = SysAllocStringByteLen("A<13>", 5);
        x->send(&text);
        job->failures = SysStringByteLen(text) != 2 || memcmp(text, "A\r", 2) != 0;
        SysFreeString(text);
        break;
    }
    }
    return 0;
}

int RunFirstCalls(const Exports* exports, const char* arg, int op) {
    (void)op;
    int threads = atoi(arg);
    if (threads < 1 || threads > 64) {
        return 0;
    }
    ThreadJob jobs[64];
    PrepareJobs(jobs, threads, exports, 0);
    if (!RunTogether(FirstCall, jobs, threads)) {
        return 0;
    }
    int ok = 0;
    for (int i = 0; i < threads; ++i) {
        ok += jobs[i].failures == 0;
    }
    Report("firstcall ok=%d of %d", ok, threads);
    return 1;
}
