// Reading mapped PE images and the process's list of loaded modules, for the
// self-initialiser (exports/module_init_win.cpp), which alone includes this.
// It runs before the image is relocated and bound, so nothing here reaches
// anything through an absolute address: no global, no string literal, no
// import. The definitions have internal linkage: they are compiled into the
// self-initialiser's object, freestanding, and the test that reads that
// object's code reads them with it.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace {

// The leading parts of the process environment block and of the loader's
// record of a module, as the system lays them out; with natural alignment the
// same declarations give the x86 and the x64 layout, checked below.
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

#if defined(__x86_64__)
static_assert(offsetof(ProcessBlock, imageBaseAddress) == 0x10 &&
              offsetof(ProcessBlock, loaderData) == 0x18);
static_assert(offsetof(LoaderData, inLoadOrder) == 0x10);
static_assert(offsetof(LoaderEntry, dllBase) == 0x30 && offsetof(LoaderEntry, baseDllName) == 0x58);
#else
static_assert(offsetof(ProcessBlock, imageBaseAddress) == 0x08 &&
              offsetof(ProcessBlock, loaderData) == 0x0c);
static_assert(offsetof(LoaderData, inLoadOrder) == 0x0c);
static_assert(offsetof(LoaderEntry, dllBase) == 0x18 && offsetof(LoaderEntry, baseDllName) == 0x2c);
#endif

// The process block's address is kept in the thread block, which the fs
// (x86) or gs (x64) segment addresses.
[[gnu::always_inline]] inline ProcessBlock* CurrentProcessBlock() noexcept {
    ProcessBlock* peb;
#if defined(__x86_64__)
    asm("movq %%gs:0x60, %0" : "=r"(peb));
#else
    asm("movl %%fs:0x30, %0" : "=r"(peb));
#endif
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

IMAGE_NT_HEADERS* NtHeaders(char* image) noexcept {
    return reinterpret_cast<IMAGE_NT_HEADERS*>(
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

} // namespace
