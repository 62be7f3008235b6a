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
// that. It finds its record through the return address of a call and
// image-relative offsets that the linker writes into the code, finds kernel32
// through the process's module list, and resolves the few kernel32 functions
// it needs from kernel32's export directory, comparing names by hash.
#include "serial/module_init.h"

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

// The leading parts of the process environment block and of the loader's
// record of a module, as the x86 system lays them out.
struct CountedName {
    USHORT length;
    USHORT maximumLength;
    const WCHAR* buffer;
};

struct LoaderEntry {
    LIST_ENTRY inLoadOrder;
    LIST_ENTRY inMemoryOrder;
    LIST_ENTRY inInitializationOrder;
    char* dllBase;
    void* entryPoint;
    ULONG size_of_image;
    CountedName fullDllName;
    CountedName baseDllName;
};

struct LoaderData {
    ULONG length;
    ULONG initialized;
    void* ssHandle;
    LIST_ENTRY inLoadOrder;
};

struct ProcessBlock {
    BYTE flags[4];
    void* mutant;
    char* imageBaseAddress;
    LoaderData* loaderData;
};

[[gnu::always_inline]] inline ProcessBlock* CurrentProcessBlock() noexcept {
    ProcessBlock* peb;
    asm("movl %%fs:0x30, %0" : "=r"(peb));
    return peb;
}

constexpr std::uint32_t kHashSeed = 2166136261u;

constexpr std::uint32_t HashStep(std::uint32_t hash, unsigned char c) noexcept {
    return (hash ^ c) * 16777619u;
}

constexpr unsigned char FoldCase(unsigned c) noexcept {
    return static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
}

// Names are compared by hash: a name hashed here at compile time leaves no
// string in the image. Module names compare without regard to case.
consteval std::uint32_t NameHash(const char* name, bool fold_case = false) {
    std::uint32_t hash = kHashSeed;
    for (; *name; ++name) {
        hash = HashStep(hash, fold_case ? FoldCase(*name) : static_cast<unsigned char>(*name));
    }
    return hash;
}

std::uint32_t HashOf(const char* name, char end) noexcept {
    std::uint32_t hash = kHashSeed;
    for (; *name && *name != end; ++name) {
        hash = HashStep(hash, static_cast<unsigned char>(*name));
    }
    return hash;
}

// Finds a loaded module by the hash of its lower-cased file name. Modules
// enter the load-order list at its tail, so a walk from the head to a module
// loaded at process start does not race with later loads.
char* FindLoadedModule(std::uint32_t name_hash) noexcept {
    LIST_ENTRY* head = &CurrentProcessBlock()->loaderData->inLoadOrder;
    for (LIST_ENTRY* link = head->Flink; link != head; link = link->Flink) {
        const auto* entry = reinterpret_cast<const LoaderEntry*>(link);
        const CountedName& name = entry->baseDllName;
        std::uint32_t hash = kHashSeed;
        for (USHORT i = 0; i < name.length / 2; ++i) {
            hash = HashStep(hash, FoldCase(name.buffer[i]));
        }
        if (hash == name_hash) {
            return entry->dllBase;
        }
    }
    return nullptr;
}

IMAGE_NT_HEADERS32* NtHeaders(char* image) noexcept {
    return reinterpret_cast<IMAGE_NT_HEADERS32*>(
        image + reinterpret_cast<IMAGE_DOS_HEADER*>(image)->e_lfanew);
}

IMAGE_DATA_DIRECTORY& Directory(char* image, int index) noexcept {
    return NtHeaders(image)->OptionalHeader.DataDirectory[index];
}

// An export of `module` found by the hash of its name. A forwarder
// ("MODULE.Name") is followed into the module it names when that module is
// already loaded, as kernel32's forwarders' targets are.
void* FindExport(char* module, std::uint32_t name_hash, int depth = 0) noexcept {
    const IMAGE_DATA_DIRECTORY& dir = Directory(module, IMAGE_DIRECTORY_ENTRY_EXPORT);
    if (dir.Size == 0 || depth > 3) {
        return nullptr;
    }
    const auto* exports =
        reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(module + dir.VirtualAddress);
    const auto* names = reinterpret_cast<const DWORD*>(module + exports->AddressOfNames);
    const auto* ordinals = reinterpret_cast<const WORD*>(module + exports->AddressOfNameOrdinals);
    const auto* functions = reinterpret_cast<const DWORD*>(module + exports->AddressOfFunctions);
    for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
        if (HashOf(module + names[i], '\0') != name_hash) {
            continue;
        }
        DWORD rva = functions[ordinals[i]];
        if (rva < dir.VirtualAddress || rva >= dir.VirtualAddress + dir.Size) {
            return module + rva;
        }
        const char* forward = module + rva;
        std::uint32_t module_hash = kHashSeed;
        for (; *forward && *forward != '.'; ++forward) {
            module_hash = HashStep(module_hash, FoldCase(static_cast<unsigned char>(*forward)));
        }
        if (*forward != '.') {
            return nullptr;
        }
        module_hash = HashStep(HashStep(HashStep(HashStep(module_hash, '.'), 'd'), 'l'), 'l');
        char* target = FindLoadedModule(module_hash);
        return target ? FindExport(target, HashOf(forward + 1, '\0'), depth + 1) : nullptr;
    }
    return nullptr;
}

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
        // The span ends after the last four-byte slot, which may reach into
        // the next page of the same section.
        DWORD span = 0;
        for (DWORD i = 0; i < count; ++i) {
            const unsigned type = entries[i] >> 12;
            if (type == IMAGE_REL_BASED_HIGHLOW) {
                const DWORD reach = (entries[i] & 0xfffu) + 4;
                span = reach > span ? reach : span;
            } else if (type != IMAGE_REL_BASED_ABSOLUTE) {
                return false;
            }
        }
        char* page = base + header->VirtualAddress;
        DWORD old_protect;
        if (span != 0 && k.virtualProtect(page, span, PAGE_EXECUTE_READWRITE, &old_protect)) {
            for (DWORD i = 0; i < count; ++i) {
                if ((entries[i] >> 12) == IMAGE_REL_BASED_HIGHLOW) {
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
bool IsUnbound(DWORD slot, DWORD name, DWORD size_of_image, bool have_lookup_table) noexcept {
    if (have_lookup_table) {
        return slot == name;
    }
    return slot < size_of_image ||
           ((slot & IMAGE_ORDINAL_FLAG32) != 0 && (slot & 0x7fff0000u) == 0);
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
        auto* slots = reinterpret_cast<DWORD*>(base + desc->FirstThunk);
        const bool have_lookup_table = desc->OriginalFirstThunk != 0;
        const auto* names = have_lookup_table
                                ? reinterpret_cast<const DWORD*>(base + desc->OriginalFirstThunk)
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
        if (!k.virtualProtect(slots, count * sizeof(DWORD), PAGE_READWRITE, &old_protect)) {
            complete = false;
            continue;
        }
        for (DWORD i = 0; i < count; ++i) {
            const DWORD name = names[i];
            const char* which = (name & IMAGE_ORDINAL_FLAG32)
                                    ? reinterpret_cast<const char*>(name & 0xffffu)
                                    : reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + name)->Name;
            FARPROC proc = k.getProcAddress(module, which);
            complete = complete && proc != nullptr;
            slots[i] = reinterpret_cast<DWORD>(proc);
        }
        k.virtualProtect(slots, count * sizeof(DWORD), old_protect, &old_protect);
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
            reinterpret_cast<const IMAGE_TLS_DIRECTORY32*>(base + tls.VirtualAddress);
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
