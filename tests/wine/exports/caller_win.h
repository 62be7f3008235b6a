/* A program of the kind that drives Wendlev14.EXE from outside: it loads the
 * EXE with LoadLibrary, finds the seven exports with GetProcAddress and calls
 * them as a C, VBA or VB6 caller would. It is built from the Win32 headers
 * alone, without the project's headers or libraries; its linked build takes
 * serial/wendle.h and the import library instead. */
#ifndef CALLER_WIN_H
#define CALLER_WIN_H

#include <windows.h>

#include <oleauto.h>

/* In the order of the ordinals, from 1. */
typedef struct {
    LONG(WINAPI* close)(void);
    LONG(WINAPI* open)(LONG port, LONG baud);
    void(WINAPI* rawSend)(BSTR* text);
    void(WINAPI* rawSendByValue)(BSTR text);
    void(WINAPI* send)(BSTR* text);
    void(WINAPI* sendByValue)(BSTR text);
    BSTR(WINAPI* version)(void);
    HMODULE module;
} Exports;

/* Step handlers: `arg` is the text after the step's name and colon, `op`
 * what the step table gives the handler besides. They print their results on
 * stdout, one line each; 0 means the step could not run at all (bad
 * arguments, a failed system call of the caller itself). */
int RunThreadedSends(Exports* exports, const char* arg, int op);
int RunRace(Exports* exports, const char* arg, int op);
int RunFirstCalls(Exports* exports, const char* arg, int op);
int RunMemory(Exports* exports, const char* arg, int op);
int RunLoaderState(Exports* exports, const char* arg, int op);
int RunSlots(Exports* exports, const char* arg, int op);

/* Prints a line and flushes it, so that a crash leaves what came before. */
void Report(const char* format, ...);

/* FNV-1a over the bytes, the check value the harness computes too. */
unsigned long Fnv1a(const void* bytes, size_t count);

/* Whether the string is the version text, byte for byte. */
int IsVersionText(BSTR text);

#endif
