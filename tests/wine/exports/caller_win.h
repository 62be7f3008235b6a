/* A program of the kind that drives Wendlev14.EXE from outside, built from
 * the Win32 headers alone (its linked build takes serial/wendle.h and the
 * import library instead). */
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

/* Prints a line and flushes it, so that a crash leaves what came before. */
void Report(const char* format, ...);

/* The loader steps (caller_image_win.c); 0 for bad arguments. */
int RunLoaderState(Exports* exports, const char* arg);
int RunSlots(Exports* exports, const char* arg);

#endif
