/* Steps that leave the loaded image as one kind of Windows loader would
 * before the first export call, and count the slots that hold their right
 * values.
 *
 *   loader:<state>   <state> is `none` or a comma list of
 *       relocate  its base relocations are applied for where it landed
 *       header    the header's ImageBase is rewritten to where it landed
 *       bind      every import slot is filled with its function's address
 *       tls       its TLS callbacks are called with DLL_PROCESS_ATTACH
 *     prints whether the image landed away from its preferred base and the
 *     slots ("slots before ..."); it must come before any export call.
 *   slots   prints the slots again ("slots after ...").
 * A relocated slot is right when it holds the value the image held when the
 * loader step found it (the file's: Wine relocates nothing) plus the distance
 * from the preferred base, once: not twice, not never. An import slot is
 * right when it holds what GetProcAddress gives for its name or ordinal. */
#include "caller_win.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum { kRelocate = 1, kHeader = 2, kBind = 4, kTls = 8 };

/* The relocation kind of an address-sized slot. */
#ifdef _WIN64
#define ADDRESS_SLOT IMAGE_REL_BASED_DIR64
#else
#define ADDRESS_SLOT IMAGE_REL_BASED_HIGHLOW
#endif

/* What the loader step found. */
static struct {
    char* base;
    ULONG_PTR delta; /* from the preferred base */
    DWORD count;
    DWORD* rvas; /* of the relocated (address-sized) slots */
    ULONG_PTR* originals;
} image;

static IMAGE_NT_HEADERS* Headers(void) {
    return (IMAGE_NT_HEADERS*)(image.base + ((IMAGE_DOS_HEADER*)image.base)->e_lfanew);
}

static const IMAGE_DATA_DIRECTORY* Directory(int index) {
    return &Headers()->OptionalHeader.DataDirectory[index];
}

/* Writes one slot of the mapped image, whatever its page's protection. */
static void WriteSlot(void* slot, ULONG_PTR value) {
    DWORD protection;
    if (!VirtualProtect(slot, sizeof(ULONG_PTR), PAGE_EXECUTE_READWRITE, &protection)) {
        Report("VirtualProtect failed err=%lu", GetLastError());
        exit(2);
    }
    *(ULONG_PTR*)slot = value;
    VirtualProtect(slot, sizeof(ULONG_PTR), protection, &protection);
}

static void TakeRelocations(void) {
    const IMAGE_DATA_DIRECTORY* dir = Directory(IMAGE_DIRECTORY_ENTRY_BASERELOC);
    image.rvas = malloc(dir->Size * sizeof(DWORD));
    image.originals = malloc(dir->Size * sizeof(ULONG_PTR));
    for (DWORD at = 0; image.rvas && image.originals && at + 8 <= dir->Size;) {
        const IMAGE_BASE_RELOCATION* block =
            (const IMAGE_BASE_RELOCATION*)(image.base + dir->VirtualAddress + at);
        const WORD* entries = (const WORD*)(block + 1);
        if (block->SizeOfBlock < 8) {
            break;
        }
        for (DWORD i = 0; i < (block->SizeOfBlock - 8) / 2; ++i) {
            if (entries[i] >> 12 == ADDRESS_SLOT) {
                image.rvas[image.count] = block->VirtualAddress + (entries[i] & 0xfffu);
                image.originals[image.count] = *(ULONG_PTR*)(image.base + image.rvas[image.count]);
                ++image.count;
            }
        }
        at += block->SizeOfBlock;
    }
}

/* Counts the relocated slots that are right; `apply` adds the distance
 * first, as a loader would. */
static DWORD CheckRelocations(int apply) {
    DWORD right = 0;
    for (DWORD i = 0; i < image.count; ++i) {
        ULONG_PTR* slot = (ULONG_PTR*)(image.base + image.rvas[i]);
        if (apply) {
            WriteSlot(slot, *slot + image.delta);
        }
        right += *slot == image.originals[i] + image.delta;
    }
    return right;
}

/* Counts the import slots that are right; `bind` writes them first. */
static DWORD CheckImports(int bind, DWORD* total) {
    const IMAGE_IMPORT_DESCRIPTOR* desc =
        (const IMAGE_IMPORT_DESCRIPTOR*)(image.base +
                                         Directory(IMAGE_DIRECTORY_ENTRY_IMPORT)->VirtualAddress);
    DWORD right = 0;
    *total = 0;
    for (; desc->Name != 0; ++desc) {
        HMODULE module = LoadLibraryA(image.base + desc->Name);
        ULONG_PTR* slots = (ULONG_PTR*)(image.base + desc->FirstThunk);
        const ULONG_PTR* names = (const ULONG_PTR*)(image.base + desc->OriginalFirstThunk);
        for (DWORD i = 0; names[i]; ++i, ++*total) {
            const char* which =
                IMAGE_SNAP_BY_ORDINAL(names[i])
                    ? (const char*)(ULONG_PTR)IMAGE_ORDINAL(names[i])
                    : (const char*)((IMAGE_IMPORT_BY_NAME*)(image.base + names[i]))->Name;
            const ULONG_PTR proc = module ? (ULONG_PTR)GetProcAddress(module, which) : 0;
            if (bind) {
                WriteSlot(&slots[i], proc);
            }
            right += proc != 0 && slots[i] == proc;
        }
    }
    return right;
}

static void ReportSlots(const char* when) {
    DWORD import_total;
    const DWORD relocs = CheckRelocations(0);
    const DWORD imports = CheckImports(0, &import_total);
    Report("slots %s relocs=%lu/%lu imports=%lu/%lu", when, relocs, image.count, imports,
           import_total);
}

static void RunTlsCallbacks(void) {
    const IMAGE_DATA_DIRECTORY* dir = Directory(IMAGE_DIRECTORY_ENTRY_TLS);
    const IMAGE_TLS_DIRECTORY* tls = (const IMAGE_TLS_DIRECTORY*)(image.base + dir->VirtualAddress);
    int called = 0;
    for (PIMAGE_TLS_CALLBACK* callback = (PIMAGE_TLS_CALLBACK*)tls->AddressOfCallBacks;
         dir->Size != 0 && callback && *callback; ++callback, ++called) {
        (*callback)(image.base, DLL_PROCESS_ATTACH, NULL);
    }
    Report("tls callbacks=%d", called);
}

int RunLoaderState(Exports* x, const char* arg) {
    static const char* const kFlags[] = {"none", "relocate", "header", "bind", "tls"};
    char words[64];
    int state = 0;
    snprintf(words, sizeof words, "%s", arg);
    for (char* word = strtok(words, ","); word; word = strtok(NULL, ",")) {
        int i = 0;
        while (i < 5 && strcmp(word, kFlags[i]) != 0) {
            ++i;
        }
        if (i == 5) {
            return 0;
        }
        state |= (1 << i) >> 1; /* the flags in the order of kFlags; none is none */
    }
    image.base = (char*)x->module;
    IMAGE_NT_HEADERS* nt = Headers();
    image.delta = (ULONG_PTR)image.base - nt->OptionalHeader.ImageBase;
    Report("landed %s", image.delta == 0 ? "at its preferred base" : "away");
    TakeRelocations();
    DWORD unused;
    if (state & kRelocate) {
        CheckRelocations(1);
    }
    if (state & kHeader) {
        WriteSlot(&nt->OptionalHeader.ImageBase, (ULONG_PTR)image.base);
    }
    if (state & kBind) {
        CheckImports(1, &unused);
    }
    if (state & kTls) {
        RunTlsCallbacks();
    }
    ReportSlots("before");
    return 1;
}

int RunSlots(Exports* x, const char* arg) {
    (void)x, (void)arg;
    if (!image.base) {
        return 0;
    }
    ReportSlots("after");
    return 1;
}
