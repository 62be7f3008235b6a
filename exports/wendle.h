/* The exported interface of Wendlev14.EXE, for C and C++ callers.
 *
 * Link with the import library libwendle.a (built beside the EXE), or load
 * Wendlev14.EXE with LoadLibrary and look the names up with GetProcAddress.
 *
 * Strings are BSTRs holding bytes: allocate them with SysAllocStringByteLen,
 * free them with SysFreeString; their length is SysStringByteLen, every byte
 * value may occur, and a null BSTR is the empty string.
 *
 * A caller opens a port, sends any number of strings, and closes it. All
 * operations act on the port of the most recent SER_OPEN. */
#ifndef WENDLE_H
#define WENDLE_H

#include <windows.h>

#include <oleauto.h>

#ifdef __cplusplus
#define WENDLE_NOEXCEPT noexcept
extern "C" {
#else
#define WENDLE_NOEXCEPT
#endif

/* Closes the port of the most recent SER_OPEN, if it is open. Always 1. */
LONG WINAPI SER_CLOSE(void) WENDLE_NOEXCEPT;

/* Opens COM<port> (1 to 99) at `baud` (1200, 2400, 4800, 9600, 19200 or
 * 38400) with 8 data bits, no parity, one stop bit, no flow control, DTR and
 * RTS off. 1 when open, 0 when refused or the device did not open. A port
 * still open from an earlier SER_OPEN stays open and out of reach until the
 * process ends: close it first. */
LONG WINAPI SER_OPEN(LONG port, LONG baud) WENDLE_NOEXCEPT;

/* Writes the bytes of *text as they are. *text stays the caller's, unchanged. */
void WINAPI SER_RAWSEND(BSTR* text) WENDLE_NOEXCEPT;

/* Writes the bytes of `text` as they are, then frees `text`: the caller
 * hands it over and must not use or free it afterwards. */
void WINAPI SER_RAWSEND_BV(BSTR text) WENDLE_NOEXCEPT;

/* Translates *text (angle-bracket tokens into their bytes), puts the
 * translation into *text in place of the old string (which is freed), and
 * writes it. *text stays the caller's, to be freed by the caller. */
void WINAPI SER_SEND(BSTR* text) WENDLE_NOEXCEPT;

/* Translates `text`, writes the translation and frees `text`: the caller
 * hands it over and must not use or free it afterwards. */
void WINAPI SER_SEND_BV(BSTR text) WENDLE_NOEXCEPT;

/* A new string "v1.3, 22 Oct 2012, " followed by the maker's web address.
 * The caller frees it with SysFreeString. */
BSTR WINAPI SER_VERSINFO(void) WENDLE_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif
