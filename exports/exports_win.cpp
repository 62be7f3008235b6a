// The exported functions. Each first lets the module make itself ready (it
// may have been loaded as a library by another process), then does its work;
// none lets an exception out or shows anything. Should the module not become
// ready, each returns what it returns when nothing could be done: a string
// handed over is then left unreleased, since even the call that would release
// it is out of reach.
#include "exports/wendle.h"

#include "exports/module_init.h"
#include "exports/port_open.h"
#include "exports/send_ops.h"

extern "C" {

LONG WINAPI SER_CLOSE() noexcept {
    return EnsureModuleReady() ? ClosePort() : 1;
}

LONG WINAPI SER_OPEN(LONG port, LONG baud) noexcept {
    return EnsureModuleReady() ? OpenPort(port, baud) : 0;
}

void WINAPI SER_RAWSEND(BSTR* text) noexcept {
    if (EnsureModuleReady()) {
        SendRaw(text);
    }
}

void WINAPI SER_RAWSEND_BV(BSTR text) noexcept {
    if (EnsureModuleReady()) {
        SendRawByValue(text);
    }
}

void WINAPI SER_SEND(BSTR* text) noexcept {
    if (EnsureModuleReady()) {
        SendTranslated(text);
    }
}

void WINAPI SER_SEND_BV(BSTR text) noexcept {
    if (EnsureModuleReady()) {
        SendTranslatedByValue(text);
    }
}

BSTR WINAPI SER_VERSINFO() noexcept {
    return EnsureModuleReady() ? VersionText() : nullptr;
}

} // extern "C"
