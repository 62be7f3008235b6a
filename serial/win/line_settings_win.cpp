#include "serial/win/line_settings.h"

#include "serial/win/device_io.h"

#include <iterator>

namespace {

enum class SettingKind { LineState, InputQueue, OutputQueue };

struct LineSetting {
    SettingKind kind;
    // For a LineState setting: the members it changes.
    void (*change)(DCB& state, DWORD baud_rate);
};

constexpr LineSetting State(void (*change)(DCB&, DWORD)) {
    return {SettingKind::LineState, change};
}

// Deliberately in this order and with repeats (parity checking, parity and stop
// bits after step 2, DTR twice, fTXContinueOnXoff in both XON/XOFF steps): each
// step stands alone, so a driver that refuses one still gets the others' values.
constinit const LineSetting kLineSettings[] = {
    State([](DCB& s, DWORD baud_rate) { s.BaudRate = baud_rate; }),
    State([](DCB& s, DWORD) {
        s.ByteSize = 8;
        s.StopBits = ONESTOPBIT;
        s.Parity = NOPARITY;
        s.fParity = FALSE;
    }),
    State([](DCB& s, DWORD) { s.fOutxCtsFlow = FALSE; }),
    State([](DCB& s, DWORD) { s.fOutxDsrFlow = FALSE; }),
    State([](DCB& s, DWORD) { s.fDsrSensitivity = FALSE; }),
    // DTR handshake off, then DTR line off: two settings with one value.
    State([](DCB& s, DWORD) { s.fDtrControl = DTR_CONTROL_DISABLE; }),
    State([](DCB& s, DWORD) { s.fDtrControl = DTR_CONTROL_DISABLE; }),
    State([](DCB& s, DWORD) { s.fNull = FALSE; }),
    State([](DCB& s, DWORD) { s.fParity = FALSE; }),
    State([](DCB& s, DWORD) { s.fErrorChar = FALSE; }),
    State([](DCB& s, DWORD) { s.Parity = NOPARITY; }),
    State([](DCB& s, DWORD) { s.fRtsControl = RTS_CONTROL_DISABLE; }),
    {SettingKind::InputQueue, nullptr},
    State([](DCB& s, DWORD) { s.StopBits = ONESTOPBIT; }),
    {SettingKind::OutputQueue, nullptr},
    State([](DCB& s, DWORD) {
        s.fInX = FALSE;
        s.fTXContinueOnXoff = FALSE;
    }),
    State([](DCB& s, DWORD) {
        s.fOutX = FALSE;
        s.fTXContinueOnXoff = FALSE;
    }),
};
static_assert(std::size(kLineSettings) == 17);

void ApplyLineSetting(HANDLE device, const LineSetting& setting, DWORD baud_rate) noexcept {
    if (setting.kind == SettingKind::LineState) {
        DCB state;
        if (ReadLineState(device, state)) {
            setting.change(state, baud_rate);
            WriteLineState(device, state);
        }
        return;
    }
    // Each queue setting asks for 1024 bytes on its own side and repeats the
    // size the driver reports for the other side.
    COMMPROP properties;
    if (ReadDeviceProperties(device, properties)) {
        if (setting.kind == SettingKind::InputQueue) {
            SetDeviceQueues(device, kQueueSize, properties.dwCurrentTxQueue);
        } else {
            SetDeviceQueues(device, properties.dwCurrentRxQueue, kQueueSize);
        }
    }
}

} // namespace

void ApplyLineSettings(HANDLE device, DWORD baud_rate) noexcept {
    for (const LineSetting& setting : kLineSettings) {
        ApplyLineSetting(device, setting, baud_rate);
    }
}
