// The send operations and the version text of the exported interface.
// Byte strings are BSTRs holding bytes: the length is SysStringByteLen, and
// a null BSTR is the empty string.
#pragma once

#include <windows.h>

#include <oleauto.h>

// One WriteFile of the whole of bytes[0, count) to the port in the slot;
// nothing when no port is in the slot. A failed or short write is final.
void WriteToPort(const char* bytes, DWORD count) noexcept;

// Translates the caller's string into a new one that replaces it in
// `*variable` (the old one is freed), then writes it. When memory runs out
// the variable stays as it was and nothing is written. A null `variable`
// does nothing.
void SendTranslated(BSTR* variable) noexcept;
// Writes the caller's string as it is; the variable is left alone.
void SendRaw(const BSTR* variable) noexcept;
// Translates a string handed over for good, writes the translation and
// frees the string.
void SendTranslatedByValue(BSTR text) noexcept;
// Writes a string handed over for good and frees it.
void SendRawByValue(BSTR text) noexcept;
// "v1.3, 22 Oct 2012, " and the maker's address, as a new string the caller
// owns; nullptr when memory runs out.
BSTR VersionText() noexcept;
