/* hello: clears a serial display and writes a greeting on it, through the
 * functions of Wendlev14.EXE.
 *
 * Built from the folder the archive was unpacked into, with mingw-w64, as a
 * 32-bit program beside Wendlev14.EXE or as an x64 one beside
 * x64\Wendlev14.EXE: a program loads the EXE of its own bitness only.
 * i686-w64-mingw32-gcc examples/hello.c -Iinclude -Llib -lwendle -loleaut32 -o hello.exe
 * x86_64-w64-mingw32-gcc examples/hello.c -Iinclude -Llib/x64 -lwendle -loleaut32 -o x64/hello.exe
 *
 * Run it there, or with that Wendlev14.EXE on the PATH:
 *   hello          writes to COM1 at 9600 baud
 *   hello 3        writes to COM3 at 9600 baud */
#include <stdio.h>
#include <stdlib.h>

#include "wendle.h"

static const char kGreeting[] = "<CLS>Hello from<KTA_LINE2>Wendle";

int main(int argc, char** argv) {
    long port = 1;
    if (argc > 2) {
        fprintf(stderr, "usage: hello [port]   (a port number from 1 to 99; 1 if none)\n");
        return 2;
    }
    if (argc == 2) {
        char* end;
        port = strtol(argv[1], &end, 10);
        if (end == argv[1] || *end != '\0' || port < 1 || port > 99) {
            fprintf(stderr, "hello: \"%s\" is not a port number from 1 to 99\n", argv[1]);
            return 2;
        }
    }

    if (SER_OPEN(port, 9600) != 1) {
        fprintf(stderr,
                "hello: COM%ld could not be opened at 9600 baud: is the port there, "
                "and not in use by another program?\n",
                port);
        return 1;
    }
    /* The string holds bytes: its length is given, not found at a 0. */
    BSTR text = SysAllocStringByteLen(kGreeting, sizeof kGreeting - 1);
    if (text == NULL) {
        fprintf(stderr, "hello: out of memory\n");
        SER_CLOSE();
        return 1;
    }
    /* SER_SEND puts the translation into text, in place of the message. */
    SER_SEND(&text);
    printf("hello: %u bytes passed to COM%ld\n", SysStringByteLen(text), port);
    SysFreeString(text);
    SER_CLOSE();
    return 0;
}
