/* loader_caller <path of Wendlev14.EXE> <port> <state>
 *
 * Loads the EXE with LoadLibrary (it lands away from its preferred base,
 * which this program holds) and, before the first export call, leaves the
 * image as one kind of Windows loader would. <state> is `none` or a comma
 * list of:
 *   relocate  its base relocations are applied for where it landed
 *   header    the header's ImageBase is rewritten to where it landed
 *   bind      every import slot is filled with its function's address
 *   tls       its TLS callbacks are called with DLL_PROCESS_ATTACH
 * Prints, one line each: the file's header facts, how many relocated slots
 * and import slots hold their right values before the first call, what
 * SER_VERSINFO, SER_OPEN(port, 9600), SER_SEND and SER_CLOSE give, and the
 * slots again afterwards. Built from the Win32 headers alone; takes the
 * relocated slots' original values from the file. */
#include <windows.h>

#include <oleauto.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum { kRelocate = 1, kHeader = 2, kBind = 4, kTls = 8 };

typedef struct {
    unsigned char* bytes;
    DWORD size;
    const IMAGE_NT_HEADERS32* nt;
    DWORD* relocated; /* image-relative offsets of the HIGHLOW slots */
    DWORD relocated_count;
} PeFile;

static void Fail(const char* what) {
    printf("failed %s err=%lu\n", what, GetLastError());
    exit(2);
}

/* The file's bytes at an image-relative offset, through the section table;
 * NULL when the file holds no `size` bytes there. */
static const void* FileAt(const PeFile* file, DWORD rva, DWORD size) {
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(file->nt);
    for (WORD i = 0; i < file->nt->FileHeader.NumberOfSections; ++i, ++section) {
        DWORD offset = rva - section->VirtualAddress;
        if (rva >= section->VirtualAddress && offset + size <= section->SizeOfRawData &&
            section->PointerToRawData + offset + size <= file->size) {
            return file->bytes + section->PointerToRawData + offset;
        }
    }
    return NULL;
}

static const IMAGE_DATA_DIRECTORY* Directory(const IMAGE_NT_HEADERS32* nt, int index) {
    return &nt->OptionalHeader.DataDirectory[index];
}

static void ReadPeFile(const char* path, PeFile* file) {
    FILE* in = fopen(path, "rb");
    if (!in || fseek(in, 0, SEEK_END) != 0) {
        Fail("open file");
    }
    file->size = (DWORD)ftell(in);
    file->bytes = malloc(file->size);
    rewind(in);
    if (!file->bytes || fread(file->bytes, 1, file->size, in) != file->size) {
        Fail("read file");
    }
    fclose(in);
    const LONG nt_offset =
        file->size > sizeof(IMAGE_DOS_HEADER) ? ((IMAGE_DOS_HEADER*)file->bytes)->e_lfanew : -1;
    if (nt_offset < 0 || nt_offset + sizeof(IMAGE_NT_HEADERS32) > file->size) {
        Fail("not a PE file");
    }
    file->nt = (const IMAGE_NT_HEADERS32*)(file->bytes + nt_offset);
    if (file->nt->Signature != IMAGE_NT_SIGNATURE ||
        file->nt->OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR32_MAGIC) {
        Fail("not a 32-bit PE file");
    }
    const IMAGE_DATA_DIRECTORY* dir = Directory(file->nt, IMAGE_DIRECTORY_ENTRY_BASERELOC);
    const unsigned char* block = FileAt(file, dir->VirtualAddress, dir->Size);
    file->relocated = malloc(dir->Size / 2 * sizeof(DWORD));
    file->relocated_count = 0;
    for (DWORD at = 0; block && file->relocated && at + 8 <= dir->Size;) {
        const IMAGE_BASE_RELOCATION* header = (const IMAGE_BASE_RELOCATION*)(block + at);
        if (header->SizeOfBlock < 8 || at + header->SizeOfBlock > dir->Size) {
            Fail("relocation table");
        }
        const WORD* entries = (const WORD*)(header + 1);
        for (DWORD i = 0; i < (header->SizeOfBlock - 8) / 2; ++i) {
            if (entries[i] >> 12 == IMAGE_REL_BASED_HIGHLOW) {
                file->relocated[file->relocated_count++] =
                    header->VirtualAddress + (entries[i] & 0xfffu);
            } else if (entries[i] >> 12 != IMAGE_REL_BASED_ABSOLUTE) {
                Fail("relocation type");
            }
        }
        at += header->SizeOfBlock;
    }
}

/* Writes one slot of the mapped image, whatever its page's protection. */
static void WriteSlot(void* slot, DWORD value) {
    DWORD protection;
    if (!VirtualProtect(slot, sizeof(DWORD), PAGE_EXECUTE_READWRITE, &protection)) {
        Fail("VirtualProtect");
    }
    *(DWORD*)slot = value;
    VirtualProtect(slot, sizeof(DWORD), protection, &protection);
}

/* Counts the relocated slots that hold their file value plus the distance
 * from the preferred base (once: not twice, not never); `apply` adds that
 * distance first, as a loader would. */
static DWORD CheckRelocations(const PeFile* file, char* base, int apply, DWORD* first_wrong) {
    const DWORD delta = (DWORD)base - file->nt->OptionalHeader.ImageBase;
    DWORD right = 0;
    *first_wrong = 0;
    for (DWORD i = 0; i < file->relocated_count; ++i) {
        DWORD* slot = (DWORD*)(base + file->relocated[i]);
        const DWORD* original = FileAt(file, file->relocated[i], sizeof(DWORD));
        if (apply) {
            WriteSlot(slot, *slot + delta);
        }
        if (original && *slot == *original + delta) {
            ++right;
        } else if (*first_wrong == 0) {
            *first_wrong = file->relocated[i];
        }
    }
    return right;
}

/* Counts the import slots that hold the address GetProcAddress gives for
 * their name or ordinal; `bind` writes that address first. */
static DWORD CheckImports(const PeFile* file, char* base, int bind, DWORD* total) {
    const IMAGE_DATA_DIRECTORY* dir = Directory(file->nt, IMAGE_DIRECTORY_ENTRY_IMPORT);
    const IMAGE_IMPORT_DESCRIPTOR* desc;
    DWORD right = 0;
    *total = 0;
    for (DWORD at = dir->VirtualAddress;
         (desc = FileAt(file, at, sizeof *desc)) != NULL && desc->Name != 0; at += sizeof *desc) {
        HMODULE module = LoadLibraryA(base + desc->Name);
        DWORD* slots = (DWORD*)(base + desc->FirstThunk);
        const DWORD* name;
        for (DWORD i = 0; (name = FileAt(file, desc->OriginalFirstThunk + 4 * i, 4)) && *name;
             ++i, ++*total) {
            const char* which = IMAGE_SNAP_BY_ORDINAL32(*name)
                                    ? (const char*)(ULONG_PTR)IMAGE_ORDINAL32(*name)
                                    : ((const IMAGE_IMPORT_BY_NAME*)(base + *name))->Name;
            const DWORD proc = module ? (DWORD)GetProcAddress(module, which) : 0;
            if (bind) {
                WriteSlot(&slots[i], proc);
            }
            right += proc != 0 && slots[i] == proc;
        }
    }
    return right;
}

static void ReportSlots(const char* when, const PeFile* file, char* base) {
    DWORD first_wrong;
    DWORD import_total;
    DWORD relocs = CheckRelocations(file, base, 0, &first_wrong);
    DWORD imports = CheckImports(file, base, 0, &import_total);
    printf("%s relocs=%lu/%lu imports=%lu/%lu first_wrong_reloc=%#lx\n", when, relocs,
           file->relocated_count, imports, import_total, first_wrong);
}

static void RunTlsCallbacks(char* base) {
    const IMAGE_NT_HEADERS32* nt =
        (const IMAGE_NT_HEADERS32*)(base + ((IMAGE_DOS_HEADER*)base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY* dir = Directory(nt, IMAGE_DIRECTORY_ENTRY_TLS);
    const IMAGE_TLS_DIRECTORY32* tls = (const IMAGE_TLS_DIRECTORY32*)(base + dir->VirtualAddress);
    int called = 0;
    for (PIMAGE_TLS_CALLBACK* callback = (PIMAGE_TLS_CALLBACK*)tls->AddressOfCallBacks;
         dir->Size != 0 && callback && *callback; ++callback, ++called) {
        (*callback)(base, DLL_PROCESS_ATTACH, NULL);
    }
    printf("tls callbacks=%d\n", called);
}

static int ParseState(char* text) {
    static const struct {
        const char* name;
        int flag;
    } kFlags[] = {
        {"none", 0}, {"relocate", kRelocate}, {"header", kHeader}, {"bind", kBind}, {"tls", kTls}};
    int state = 0;
    for (char* word = strtok(text, ","); word; word = strtok(NULL, ",")) {
        size_t i = 0;
        while (i < sizeof kFlags / sizeof kFlags[0] && strcmp(word, kFlags[i].name) != 0) {
            ++i;
        }
        if (i == sizeof kFlags / sizeof kFlags[0]) {
            return -1;
        }
        state |= kFlags[i].flag;
    }
    return state;
}

static LONG WINAPI ReportCrash(EXCEPTION_POINTERS* info) {
    printf("crash code=%#lx at=%p\n", info->ExceptionRecord->ExceptionCode,
           info->ExceptionRecord->ExceptionAddress);
    return EXCEPTION_EXECUTE_HANDLER;
}

static FARPROC Export(HMODULE module, const char* name) {
    FARPROC proc = GetProcAddress(module, name);
    if (!proc) {
        Fail(name);
    }
    return proc;
}

int main(int argc, char** argv) {
    setvbuf(stdout, NULL, _IONBF, 0);
    const int state = argc == 4 ? ParseState(argv[3]) : -1;
    if (state < 0) {
        printf("usage: loader_caller <Wendlev14.EXE> <port> none|relocate[,header][,bind][,tls]\n");
        return 2;
    }
    SetUnhandledExceptionFilter(ReportCrash);
    PeFile file;
    ReadPeFile(argv[1], &file);
    const IMAGE_OPTIONAL_HEADER32* optional = &file.nt->OptionalHeader;
    printf("file characteristics=%#x dll_characteristics=%#x reloc_size=%lu\n",
           file.nt->FileHeader.Characteristics, optional->DllCharacteristics,
           Directory(file.nt, IMAGE_DIRECTORY_ENTRY_BASERELOC)->Size);
    char* base = (char*)LoadLibraryA(argv[1]);
    if (!base) {
        Fail("LoadLibrary");
    }
    printf("landed %s\n", (DWORD)base == optional->ImageBase ? "at its preferred base" : "away");
    DWORD unused;
    if (state & kRelocate) {
        CheckRelocations(&file, base, 1, &unused);
    }
    if (state & kHeader) {
        IMAGE_NT_HEADERS32* nt = (IMAGE_NT_HEADERS32*)(base + ((IMAGE_DOS_HEADER*)base)->e_lfanew);
        WriteSlot(&nt->OptionalHeader.ImageBase, (DWORD)base);
    }
    if (state & kBind) {
        CheckImports(&file, base, 1, &unused);
    }
    if (state & kTls) {
        RunTlsCallbacks(base);
    }
    ReportSlots("before", &file, base);

    BSTR(WINAPI * version)(void) = (void*)Export((HMODULE)base, "SER_VERSINFO");
    LONG(WINAPI * open)(LONG, LONG) = (void*)Export((HMODULE)base, "SER_OPEN");
    void(WINAPI * send)(BSTR*) = (void*)Export((HMODULE)base, "SER_SEND");
    LONG(WINAPI * close)(void) = (void*)Export((HMODULE)base, "SER_CLOSE");
    BSTR text = version();
    printf("version=%.*s\n", (int)SysStringByteLen(text), (const char*)text);
    SysFreeString(text);
    printf("open=%ld\n", open(atoi(argv[2]), 9600));
    static const char kMessage[] = "<KTA_CLS>Hi<13>";
    text = SysAllocStringByteLen(kMessage, sizeof kMessage - 1);
    send(&text);
    printf("sent=%u\n", SysStringByteLen(text));
    SysFreeString(text);
    printf("close=%ld\n", close());
    ReportSlots("after", &file, base);
    return 0;
}
