// The self-initialiser of Wendlev14.EXE, which is both a program and a
// library.
//
// Started as a program, the image is relocated and bound by the loader, and
// the C runtime start-up runs before WinMain. Loaded by another process with
// LoadLibrary, it is an image without the DLL flag: Wine 8 maps it (at another
// base, since the host EXE holds 0x400000) and GetProcAddress finds its
// exports, but the loader applies no base relocation, binds no import and
// calls no entry point, so neither the TLS callbacks nor the runtime's
// pseudo-relocations, constructors and exception-frame registration have run.
// Every export calls EnsureModuleReady() first; the first call in such a
// process does that work, once, while concurrent first callers wait.
//
// Until the relocations are applied every absolute address in the image is
// wrong, and until the imports are bound every import slot holds a name, not
// a function. The code that runs before that therefore reaches nothing through
// an absolute address: no global, no string literal, no import, no jump table,
// no library call. This file is built freestanding, without builtins, jump
// tables or a stack protector, and a test reads its object code to hold it to
// that. It finds its base and record from where its code runs (x86: the
// return address of a call and image-relative offsets that the linker writes
// into the code; x64: RIP-relative addressing), finds kernel32 through the
// process's module list, and resolves the few kernel32 functions it needs
// from kernel32's export directory, comparing names by hash
// (exports/loaded_image_win.h). One source serves both: the differences are the
// size and kind of an address slot and the ordinal flag of an import.
#include "exports/module_init.h"

#include "exports/loaded_image_win.h"

#include <windows.h>

#include <cstdint>

extern "C" {
// The runtime's own start-up steps, run here for a host process.
void _pei386_runtime_relocator();
void __main();
}

namespace {

// `self` is written by the linker as the record's own address, with a base
// relocation on it: while it differs from where the record really is, the
// image has not been relocated, and the difference is the relocation delta.
struct InitRecord {
    InitRecord* self;
    LONG phase;
};

enum : LONG { kUntouched = 0, kRunning = 1, kReady = 2, kFailed = 3 };

constinit InitRecord initRecord{&initRecord, kUntouched};

struct ImageView {
    char* base;
    InitRecord* record;
};

#if defined(__x86_64__)
// The image's actual base and the record's actual address, by RIP-relative
// addressing: the operands are distances within the image, which the linker
// writes and no base relocation touches.
[[gnu::always_inline]] inline ImageView LocateImage() noexcept {
    char* base;
    InitRecord* record;
    asm volatile("leaq __ImageBase(%%rip), %0\n\t"
                 "leaq %2, %1"
                 : "=r"(base), "=r"(record)
                 : "m"(initRecord));
    return {base, record};
}
#else
// The image's actual base and the record's actual address, from the address
// the call pushes and the linker's image-relative offsets (rva32 operands,
// which carry no base relocation).
[[gnu::always_inline]] inline ImageView LocateImage() noexcept {
    char* here;
    std::uintptr_t here_offset;
    std::uintptr_t record_offset;
    asm volatile("call 1f\n"
                 "1:\tpopl %0\n\t"
                 ".byte 0xba\n\t.rva 1b\n\t"  // movl $offset(1b), %edx
                 ".byte 0xb9\n\t.rva %p3\n\t" // movl $offset(record), %ecx
                 : "=r"(here), "=d"(here_offset), "=c"(record_offset)
                 : "i"(&initRecord));
    char* base = here - here_offset;
    return {base, reinterpret_cast<InitRecord*>(base + record_offset)};
}
#endif

// The linker lists each absolute address in the image as a slot of the
// pointer's size, of this kind; any other kind but the padding entry makes
// the relocation fail. An import slot, of the same size, is an ordinal when
// its top bit is set.
#if defined(__x86_64__)
constexpr unsigned kAddressSlot = IMAGE_REL_BASED_DIR64;
#else
constexpr unsigned kAddressSlot = IMAGE_REL_BASED_HIGHLOW;
#endif
static_assert(sizeof(ULONG_PTR) == sizeof(void*) && IMAGE_ORDINAL_FLAG == ~(~ULONG_PTR{0} >> 1));

struct Kernel32 {
    decltype(&::VirtualProtect) virtualProtect;
    decltype(&::LoadLibraryA) loadLibrary;
    decltype(&::GetProcAddress) getProcAddress;
};

bool FindKernel32(Kernel32& k) noexcept {
    char* kernel32 = FindLoadedModule(NameHash("kernel32.dll", true));
    if (!kernel32) {
        return false;
    }
    k.virtualProtect = reinterpret_cast<decltype(k.virtualProtect)>(
        FindExport(kernel32, NameHash("VirtualProtect")));
    k.loadLibrary =
        reinterpret_cast<decltype(k.loadLibrary)>(FindExport(kernel32, NameHash("LoadLibraryA")));
    k.getProcAddress = reinterpret_cast<decltype(k.getProcAddress)>(
        FindExport(kernel32, NameHash("GetProcAddress")));
    return k.virtualProtect && k.loadLibrary && k.getProcAddress;
}

// Adds `delta` to every absolute address that the relocation table lists.
// A block covers one page; the page is made writable only for as long as
// its entries take (code pages are read-only once mapped).
bool ApplyRelocations(char* base, std::intptr_t delta, const Kernel32& k) noexcept {
    const IMAGE_DATA_DIRECTORY& dir = Directory(base, IMAGE_DIRECTORY_ENTRY_BASERELOC);
    if (dir.Size == 0) {
        return false;
    }
    char* block = base + dir.VirtualAddress;
    char* const end = block + dir.Size;
    while (block + sizeof(IMAGE_BASE_RELOCATION) <= end) {
        const auto* header = reinterpret_cast<const IMAGE_BASE_RELOCATION*>(block);
        if (header->SizeOfBlock < sizeof(IMAGE_BASE_RELOCATION) ||
            block + header->SizeOfBlock > end) {
            return false;
        }
        const auto* entries = reinterpret_cast<const WORD*>(header + 1);
        const DWORD count = (header->SizeOfBlock - sizeof(IMAGE_BASE_RELOCATION)) / sizeof(WORD);
        // The span ends after the last slot, which may reach into the next
        // page of the same section.
        DWORD span = 0;
        for (DWORD i = 0; i < count; ++i) {
            const unsigned type = entries[i] >> 12;
            if (type == kAddressSlot) {
                const DWORD reach = (entries[i] & 0xfffu) + sizeof(std::intptr_t);
                span = reach > span ? reach : span;
            } else if (type != IMAGE_REL_BASED_ABSOLUTE) {
                return false;
            }
        }
        char* page = base + header->VirtualAddress;
        DWORD old_protect;
        if (span != 0 && k.virtualProtect(page, span, PAGE_EXECUTE_READWRITE, &old_protect)) {
            for (DWORD i = 0; i < count; ++i) {
                if ((entries[i] >> 12) == kAddressSlot) {
                    *reinterpret_cast<std::intptr_t*>(page + (entries[i] & 0xfffu)) += delta;
                }
            }
            k.virtualProtect(page, span, old_protect, &old_protect);
        } else if (span != 0) {
            return false;
        }
        block += header->SizeOfBlock;
    }
    return true;
}

// A slot still holds its import's name (an image-relative offset) or ordinal
// until it is bound; the lookup table beside it always does.
bool IsUnbound(ULONG_PTR slot, ULONG_PTR name, DWORD size_of_image,
               bool have_lookup_table) noexcept {
    if (have_lookup_table) {
        return slot == name;
    }
    return slot < size_of_image ||
           ((slot & IMAGE_ORDINAL_FLAG) != 0 && (slot & ~(IMAGE_ORDINAL_FLAG | 0xffffu)) == 0);
}

// Loads each imported module and writes the address of each imported
// function into its slot, as the loader does for a library.
bool BindImports(char* base, const Kernel32& k) noexcept {
    const IMAGE_DATA_DIRECTORY& dir = Directory(base, IMAGE_DIRECTORY_ENTRY_IMPORT);
    const DWORD size_of_image = NtHeaders(base)->OptionalHeader.SizeOfImage;
    bool complete = true;
    if (dir.Size == 0) {
        return true;
    }
    for (auto* desc = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
         desc->Name != 0; ++desc) {
        auto* slots = reinterpret_cast<ULONG_PTR*>(base + desc->FirstThunk);
        const bool have_lookup_table = desc->OriginalFirstThunk != 0;
        const auto* names =
            have_lookup_table ? reinterpret_cast<const ULONG_PTR*>(base + desc->OriginalFirstThunk)
                              : slots;
        if (names[0] == 0 || !IsUnbound(slots[0], names[0], size_of_image, have_lookup_table)) {
            continue;
        }
        HMODULE module = k.loadLibrary(base + desc->Name);
        if (!module) {
            complete = false;
            continue;
        }
        DWORD count = 0;
        while (names[count] != 0) {
            ++count;
        }
        DWORD old_protect;
        if (!k.virtualProtect(slots, count * sizeof(ULONG_PTR), PAGE_READWRITE, &old_protect)) {
            complete = false;
            continue;
        }
        for (DWORD i = 0; i < count; ++i) {
            const ULONG_PTR name = names[i];
            const char* which = (name & IMAGE_ORDINAL_FLAG)
                                    ? reinterpret_cast<const char*>(name & 0xffffu)
                                    : reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + name)->Name;
            FARPROC proc = k.getProcAddress(module, which);
            complete = complete && proc != nullptr;
            slots[i] = reinterpret_cast<ULONG_PTR>(proc);
        }
        k.virtualProtect(slots, count * sizeof(ULONG_PTR), old_protect, &old_protect);
    }
    return complete;
}

// From here on the image is relocated and bound, and ordinary code may run.
// What remains is what the loader does for a library after binding it and
// the part of the runtime's start-up that concerns the image itself (not the
// process: the host keeps its own exception filter, floating-point state,
// console mode and arguments).
[[gnu::noinline]] void FinishStartUp(char* base) noexcept {
    // Pinned: a host that frees the library and then exits would otherwise run
    // exit handlers (the destructors registered below) in an unmapped image.
    HMODULE pinned;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(base), &pinned);
    FlushInstructionCache(GetCurrentProcess(), base, NtHeaders(base)->OptionalHeader.SizeOfImage);
    // The TLS callbacks' process attach sets up the runtime's thread-key
    // destructor list, which the constructors below may already use.
    const IMAGE_DATA_DIRECTORY& tls = Directory(base, IMAGE_DIRECTORY_ENTRY_TLS);
    if (tls.Size != 0) {
        const auto* directory =
            reinterpret_cast<const IMAGE_TLS_DIRECTORY*>(base + tls.VirtualAddress);
        auto* callbacks = reinterpret_cast<PIMAGE_TLS_CALLBACK*>(directory->AddressOfCallBacks);
        for (; callbacks && *callbacks; ++callbacks) {
            (*callbacks)(base, DLL_PROCESS_ATTACH, nullptr);
        }
    }
    // Each of these runs its work once per image, whoever calls it first.
    _pei386_runtime_relocator();
    __main();
}

[[gnu::noinline]] LONG Initialise(const ImageView& image) noexcept {
    // The running program: the loader and the runtime have done it all.
    if (CurrentProcessBlock()->imageBaseAddress == image.base) {
        return kReady;
    }
    Kernel32 k;
    if (!FindKernel32(k)) {
        return kFailed;
    }
    const std::intptr_t delta =
        reinterpret_cast<char*>(image.record) - reinterpret_cast<char*>(image.record->self);
    if (delta != 0 && !ApplyRelocations(image.base, delta, k)) {
        return kFailed;
    }
    if (!BindImports(image.base, k)) {
        return kFailed;
    }
    FinishStartUp(image.base);
    return kReady;
}

// A thread that finds the work under way waits for it, yielding the processor
// through Sleep, found the same way as the other kernel32 functions.
[[gnu::noinline]] void AwaitInitialisation(LONG* phase) noexcept {
    char* kernel32 = FindLoadedModule(NameHash("kernel32.dll", true));
    auto* sleep = reinterpret_cast<decltype(&::Sleep)>(
        kernel32 ? FindExport(kernel32, NameHash("Sleep")) : nullptr);
    for (unsigned spins = 0; __atomic_load_n(phase, __ATOMIC_ACQUIRE) == kRunning; ++spins) {
        if (sleep && spins >= 64) {
            sleep(1);
        } else {
            __builtin_ia32_pause();
        }
    }
}

} // namespace

bool EnsureModuleReady() noexcept {
    const ImageView image = LocateImage();
    LONG* phase = &image.record->phase;
    LONG seen = __atomic_load_n(phase, __ATOMIC_ACQUIRE);
    if (seen == kUntouched && __atomic_compare_exchange_n(phase, &seen, kRunning, false,
                                                          __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE)) {
        seen = Initialise(image);
        __atomic_store_n(phase, seen, __ATOMIC_RELEASE);
    } else if (seen == kRunning) {
        AwaitInitialisation(phase);
        seen = __atomic_load_n(phase, __ATOMIC_ACQUIRE);
    }
    return seen == kReady;
}
