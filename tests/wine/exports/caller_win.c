/* export_caller <step>...   linked_caller <step>...   (beside Wendlev14.EXE)
 * Steps, run in order, each printing its results:
 *   open:<port>:<baud>  close  version  unload (FreeLibrary; exit follows)
 *   draws:<count>   that many opens of port 0   heap   the bytes in use in the process heap
 *   send:<payload>, rawsend:<payload>   by reference; print the variable after
 *   send_bv:<payload>, rawsend_bv:<payload>   a fresh string, by value
 *   threads:<threads>:<rounds>[:<port>,<port>,<port>]   the threads, released together,
 *       send their own records, one call each, opening one of the ports around each
 *   loader:<state>   before any export call, leaves the image as a loader might:
 *       `none` or some of relocate, header (ImageBase rewritten) and bind
 *   slots   how many relocated and import slots are right, of how many
 * A payload is `null` or `hex:<bytes>`, optionally `*<count>` (repeated). */
#include <windows.h>

#include <oleauto.h>

#ifdef WENDLE_LINKED
#include "exports/wendle.h"
#endif

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* In the order of the ordinals, by which export_caller finds them. */
typedef struct {
    LONG(WINAPI* close)(void);
    LONG(WINAPI* open)(LONG port, LONG baud);
    void(WINAPI* rawSend)(BSTR* text);
    void(WINAPI* rawSendByValue)(BSTR text);
    void(WINAPI* send)(BSTR* text);
    void(WINAPI* sendByValue)(BSTR text);
    BSTR(WINAPI* version)(void);
} Exports;

static Exports x;
static HMODULE module;

static void Require(int ok, const char* what) {
    if (!ok) {
        printf("caller: %s failed (error %lu)\n", what, GetLastError());
        exit(2);
    }
}

static BSTR Payload(const char* text) {
    if (strcmp(text, "null") == 0) {
        return NULL;
    }
    Require(strncmp(text, "hex:", 4) == 0, text);
    const char* star = strchr(text, '*');
    const size_t size = ((star ? (size_t)(star - text) : strlen(text)) - 4) / 2;
    const size_t count = star ? (size_t)atol(star + 1) : 1;
    BSTR result = SysAllocStringByteLen(NULL, (UINT)(size * count));
    Require(result != NULL, "SysAllocStringByteLen");
    for (size_t i = 0; i < size * count; ++i) {
        unsigned value;
        sscanf(text + 4 + 2 * (i % size), "%2x", &value);
        ((unsigned char*)result)[i] = (unsigned char)value;
    }
    return result;
}

/* "<what> <the bytes in hex>", or "<what>=null" (a null string's length is 0). */
static void ReportVariable(const char* what, BSTR text) {
    printf(text ? "%s " : "%s=null", what);
    for (UINT i = 0; i < SysStringByteLen(text); ++i) {
        printf("%02x", ((const unsigned char*)text)[i]);
    }
    printf("\n");
}

/* The threads' step, opens that succeeded and closes that did not. */
static struct {
    HANDLE start;
    int rounds, ports[3];
    LONG opens, failures;
} run;

static DWORD WINAPI Work(LPVOID parameter) {
    static const LONG kBauds[] = {1200, 2400, 4800, 9600, 19200, 38400};
    const int t = (int)(INT_PTR)parameter;
    WaitForSingleObject(run.start, INFINITE);
    for (int n = 0; n < run.rounds; ++n) {
        if (run.ports[0] && x.open(run.ports[(n + t) % 3], kBauds[(n + t) % 6]) == 1) {
            InterlockedIncrement(&run.opens);
        }
        /* Record n (calls_test.py's RECORD) and a CR, raw or as <13>, by each
         * kind of send in turn; and a version text freed. */
        char record[80];
        const int kind = (t + n) % 4;
        const int size = sprintf(record, "{T%d#%d%48s}%s", t, n, "", kind % 2 ? "\r" : "<13>");
        BSTR text = SysAllocStringByteLen(record, (UINT)size);
        if (kind < 2) {
            (kind ? x.rawSend : x.send)(&text);
            SysFreeString(text);
        } else {
            (kind == 3 ? x.rawSendByValue : x.sendByValue)(text);
        }
        SysFreeString(x.version());
        if (run.ports[0] && x.close() != 1) {
            InterlockedIncrement(&run.failures);
        }
    }
    return 0;
}

static void RunThreads(const char* step) {
    HANDLE threads[64];
    int count = 0;
    run.ports[0] = 0;
    const int fields = sscanf(step, "threads:%d:%d:%d,%d,%d", &count, &run.rounds, &run.ports[0],
                              &run.ports[1], &run.ports[2]);
    run.start = CreateEventW(NULL, TRUE, FALSE, NULL);
    Require((fields == 2 || fields == 5) && run.start && count >= 1 && count <= 64, step);
    for (int i = 0; i < count; ++i) {
        threads[i] = CreateThread(NULL, 0, Work, (LPVOID)(INT_PTR)i, 0, NULL);
        Require(threads[i] != NULL, "CreateThread");
    }
    SetEvent(run.start);
    WaitForMultipleObjects((DWORD)count, threads, TRUE, INFINITE);
    printf("threads opens=%ld failures=%ld\n", run.opens, run.failures);
}

/* Where the image landed, its headers, its distance from the preferred base,
 * and the values of its address-sized relocated slots as the loader step found
 * them (the file's: Wine relocates nothing). */
static char* base;
static IMAGE_NT_HEADERS* nt;
static ULONG_PTR delta;
static ULONG_PTR* originals;

/* Counts the address-sized relocated slots that hold their value as found
 * plus the distance, and all of them. The first walk, the loader step's,
 * keeps the values found, and adds the distance when `relocate`. */
static DWORD WalkRelocations(int relocate, DWORD* total) {
    const IMAGE_DATA_DIRECTORY* dir =
        &nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC];
    const WORD kind = sizeof(void*) == 8 ? IMAGE_REL_BASED_DIR64 : IMAGE_REL_BASED_HIGHLOW;
    const int first = originals == NULL;
    DWORD right = 0;
    originals = first ? malloc(dir->Size * sizeof(ULONG_PTR)) : originals;
    Require(originals != NULL, "malloc");
    *total = 0;
    for (DWORD at = 0; at + 8 <= dir->Size;) {
        const IMAGE_BASE_RELOCATION* block =
            (const IMAGE_BASE_RELOCATION*)(base + dir->VirtualAddress + at);
        const WORD* entries = (const WORD*)(block + 1);
        Require(block->SizeOfBlock >= 8, "reading the relocations");
        for (DWORD i = 0; i < (block->SizeOfBlock - 8) / 2; ++i) {
            ULONG_PTR* slot = (ULONG_PTR*)(base + block->VirtualAddress + (entries[i] & 0xfff));
            if (entries[i] >> 12 != kind) {
                continue;
            }
            if (first) {
                originals[*total] = *slot;
            }
            if (first && relocate) {
                *slot += delta;
            }
            right += *slot == originals[(*total)++] + delta;
        }
        at += block->SizeOfBlock;
    }
    return right;
}

/* Counts the import slots that hold what GetProcAddress gives for their
 * imports, and all of them; `bind` writes them first. */
static DWORD WalkImports(int bind, DWORD* total) {
    const IMAGE_IMPORT_DESCRIPTOR* desc =
        (const IMAGE_IMPORT_DESCRIPTOR*)(base + nt->OptionalHeader
                                                    .DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT]
                                                    .VirtualAddress);
    DWORD right = 0;
    for (*total = 0; desc->Name != 0; ++desc) {
        HMODULE imported = LoadLibraryA(base + desc->Name);
        ULONG_PTR* slots = (ULONG_PTR*)(base + desc->FirstThunk);
        const ULONG_PTR* names = (const ULONG_PTR*)(base + desc->OriginalFirstThunk);
        for (DWORD i = 0; names[i]; ++i, ++*total) {
            const char* which = IMAGE_SNAP_BY_ORDINAL(names[i])
                                    ? (const char*)(ULONG_PTR)IMAGE_ORDINAL(names[i])
                                    : (const char*)((IMAGE_IMPORT_BY_NAME*)(base + names[i]))->Name;
            const ULONG_PTR proc = imported ? (ULONG_PTR)GetProcAddress(imported, which) : 0;
            if (bind) {
                slots[i] = proc;
            }
            right += proc != 0 && slots[i] == proc;
        }
    }
    return right;
}

static void RunLoaderState(const char* state) {
    base = (char*)module;
    nt = (IMAGE_NT_HEADERS*)(base + ((IMAGE_DOS_HEADER*)base)->e_lfanew);
    delta = (ULONG_PTR)base - nt->OptionalHeader.ImageBase;
    printf("landed %s\n", delta == 0 ? "at its preferred base" : "away");
    /* Made writable, as a loader has it while it works, only for a loader
     * step: the self-initialiser must find the pages as mapped. */
    DWORD unused;
    Require(strcmp(state, "none") == 0 || VirtualProtect(base, nt->OptionalHeader.SizeOfImage,
                                                         PAGE_EXECUTE_READWRITE, &unused),
            "VirtualProtect");
    WalkRelocations(strstr(state, "relocate") != NULL, &unused);
    if (strstr(state, "header")) {
        nt->OptionalHeader.ImageBase = (ULONG_PTR)base;
    }
    WalkImports(strstr(state, "bind") != NULL, &unused);
}

static void RunStep(const char* step) {
    static const char* const kSends[] = {"send:", "rawsend:", "send_bv:", "rawsend_bv:"};
    int a, b;
    for (int op = 0; op < 4; ++op) {
        if (strncmp(step, kSends[op], strlen(kSends[op])) == 0) {
            BSTR text = Payload(step + strlen(kSends[op]));
            if (op >= 2) {
                (op == 2 ? x.sendByValue : x.rawSendByValue)(text);
            } else {
                (op == 0 ? x.send : x.rawSend)(&text);
                ReportVariable(op == 0 ? "send var" : "rawsend var", text);
                SysFreeString(text);
            }
            return;
        }
    }
    if (sscanf(step, "open:%d:%d", &a, &b) == 2) {
        printf("open %d %d = %ld\n", a, b, x.open(a, b));
    } else if (strcmp(step, "close") == 0) {
        printf("close = %ld\n", x.close());
    } else if (strcmp(step, "version") == 0) {
        BSTR text = x.version();
        ReportVariable("version", text);
        SysFreeString(text);
    } else if (strcmp(step, "unload") == 0) {
        printf("unload = %d\n", FreeLibrary(module));
    } else if (strcmp(step, "heap") == 0) {
        PROCESS_HEAP_ENTRY entry = {0};
        unsigned long bytes = 0;
        while (HeapWalk(GetProcessHeap(), &entry)) {
            bytes += entry.wFlags & PROCESS_HEAP_ENTRY_BUSY ? entry.cbData : 0;
        }
        printf("heap %lu\n", bytes);
    } else if (sscanf(step, "draws:%d", &a) == 1) {
        for (int i = 0; i < a; ++i) {
            x.open(0, 9600);
        }
    } else if (strncmp(step, "loader:", 7) == 0) {
        RunLoaderState(step + 7);
    } else if (strcmp(step, "slots") == 0) {
        DWORD reloc_total, import_total;
        const DWORD relocs = WalkRelocations(0, &reloc_total);
        const DWORD imports = WalkImports(0, &import_total);
        printf("slots relocs=%lu/%lu imports=%lu/%lu\n", relocs, reloc_total, imports,
               import_total);
    } else {
        RunThreads(step);
    }
}

int main(int argc, char** argv) {
#ifdef WENDLE_LINKED
    x = (Exports){SER_CLOSE, SER_OPEN,    SER_RAWSEND, SER_RAWSEND_BV,
                  SER_SEND,  SER_SEND_BV, SER_VERSINFO};
    module = GetModuleHandleA("Wendlev14.EXE");
#else
    module = LoadLibraryA("Wendlev14.EXE");
    Require(module != NULL, "loading Wendlev14.EXE from the caller's folder");
    for (int i = 0; i < 7; ++i) {
        ((FARPROC*)&x)[i] = GetProcAddress(module, MAKEINTRESOURCEA(i + 1));
        Require(((FARPROC*)&x)[i] != NULL, "GetProcAddress by ordinal");
    }
#endif
    for (int i = 1; i < argc; ++i) {
        RunStep(argv[i]);
        fflush(stdout); /* what came before a crash stays */
    }
    printf("end\n");
    return 0;
}
