// The exported functions. Each first lets the module make itself ready (it
// may have been loaded as a library by another process), then does its work;
// none lets an exception out or shows anything.
#include "serial/wendle.h"

#include "serial/module_init.h"
#include "serial/port_open.h"
#include "serial/send_ops.h"

extern "C" {

LONG WINAPI SER_CLOSE() noexcept {
    EnsureModuleReady();
    return ClosePort();
}

LONG WINAPI SER_OPEN(LONG port, LONG baud) noexcept {
    EnsureModuleReady();
    return OpenPort(port, baud);
}

void WINAPI SER_RAWSEND(BSTR* text) noexcept {
    EnsureModuleReady();
    SendRaw(text);
}

void WINAPI SER_RAWSEND_BV(BSTR text) noexcept {
    EnsureModuleReady();
    SendRawByValue(text);
}

void WINAPI SER_SEND(BSTR* text) noexcept {
    EnsureModuleReady();
    SendTranslated(text);
}

void WINAPI SER_SEND_BV(BSTR text) noexcept {
    EnsureModuleReady();
    SendTranslatedByValue(text);
}

BSTR WINAPI SER_VERSINFO() noexcept {
    EnsureModuleReady();
    return VersionText();
}

} // extern "C"
