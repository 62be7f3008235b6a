/* linked_caller <port>
 *
 * A program written from serial/wendle.h alone and linked with the import
 * library libwendle.a: the system's loader finds SER_* in Wendlev14.EXE as
 * it would in any library. Opens COM<port> at 19200 baud, sends one
 * translated message, closes, and prints what the calls gave. */
#include "serial/wendle.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char** argv) {
    if (argc != 2) {
        return 2;
    }
    static const char kMessage[] = "linked <76><73><78><75>ed<13><10>";
    LONG opened = SER_OPEN(atoi(argv[1]), 19200);
    BSTR text = SysAllocStringByteLen(kMessage, sizeof kMessage - 1);
    SER_SEND(&text);
    printf("open=%ld sent=%u:%.*s\n", opened, SysStringByteLen(text),
           (int)strcspn((const char*)text, "\r"), (const char*)text);
    SysFreeString(text);
    BSTR version = SER_VERSINFO();
    printf("version=%.*s\n", (int)SysStringByteLen(version), (const char*)version);
    SysFreeString(version);
    printf("close=%ld\n", SER_CLOSE());
    return 0;
}
