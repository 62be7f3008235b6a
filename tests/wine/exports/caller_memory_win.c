/* memory:<port>:<rounds>[:leak]   the process's memory before and after
 *     <rounds> rounds of the four sends with fresh strings and of version
 *     texts freed by the caller; `leak` makes the caller itself keep one
 *     string of the same size per round, to show that the measure sees it */
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

int RunMemory(const Exports* exports, const char* arg, int op) {
    (void)op;
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
