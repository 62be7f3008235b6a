/* roundtrip_caller <path of Wendlev14.EXE> <port> <rounds>
 *
 * Times one SER_OPEN + SER_SEND (64 bytes) + SER_CLOSE through the exports,
 * beside the least a program does for the same effect with the Win32 calls
 * alone (open, one DCB write, one write, close), alternating the two so that
 * both see the same state of the machine. Prints one line per figure. */
#include <windows.h>

#include <oleauto.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

typedef struct {
    LONG(WINAPI* open)(LONG port, LONG baud);
    void(WINAPI* send)(BSTR* text);
    LONG(WINAPI* close)(void);
} Exports;

static const char kPayload[] = "Wendle round trip: sixty-four bytes of plain text, no tokens..\r\n";

static double Microseconds(LARGE_INTEGER from, LARGE_INTEGER to, LARGE_INTEGER frequency) {
    return (double)(to.QuadPart - from.QuadPart) * 1e6 / (double)frequency.QuadPart;
}

static int CompareDoubles(const void* a, const void* b) {
    double x = *(const double*)a, y = *(const double*)b;
    return (x > y) - (x < y);
}

static void Summarise(double* times, int count, double* median, double* mean) {
    double sum = 0;
    for (int i = 0; i < count; ++i) {
        sum += times[i];
    }
    qsort(times, (size_t)count, sizeof *times, CompareDoubles);
    *median = times[count / 2];
    *mean = sum / count;
}

static int DirectRoundTrip(const WCHAR* device) {
    HANDLE port = CreateFileW(device, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (port == INVALID_HANDLE_VALUE) {
        return 0;
    }
    DCB dcb;
    memset(&dcb, 0, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    GetCommState(port, &dcb);
    dcb.BaudRate = 9600;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    SetCommState(port, &dcb);
    DWORD written = 0;
    WriteFile(port, kPayload, sizeof kPayload - 1, &written, NULL);
    CloseHandle(port);
    return written == sizeof kPayload - 1;
}

/* The three calls, each timed; `parts` may be NULL. */
static int ExportsRoundTrip(const Exports* x, int port, LARGE_INTEGER frequency, double* parts) {
    BSTR text = SysAllocStringByteLen(kPayload, sizeof kPayload - 1);
    LARGE_INTEGER t[4];
    QueryPerformanceCounter(&t[0]);
    LONG opened = x->open(port, 9600);
    QueryPerformanceCounter(&t[1]);
    x->send(&text);
    QueryPerformanceCounter(&t[2]);
    x->close();
    QueryPerformanceCounter(&t[3]);
    SysFreeString(text);
    for (int i = 0; parts && i < 3; ++i) {
        parts[i] = Microseconds(t[i], t[i + 1], frequency);
    }
    return opened == 1;
}

enum { kWhole, kDirect, kOpen, kSend, kClose, kSeries };

int main(int argc, char** argv) {
    HMODULE module = argc == 4 ? LoadLibraryA(argv[1]) : NULL;
    const int port = argc == 4 ? atoi(argv[2]) : 0;
    const int rounds = argc == 4 ? atoi(argv[3]) : 0;
    Exports x = {
        (LONG(WINAPI*)(LONG, LONG))(void*)GetProcAddress(module, "SER_OPEN"),
        (void(WINAPI*)(BSTR*))(void*)GetProcAddress(module, "SER_SEND"),
        (LONG(WINAPI*)(void))(void*)GetProcAddress(module, "SER_CLOSE"),
    };
    if (!module || !x.open || !x.send || !x.close || port < 1 || rounds < 2) {
        printf("usage: roundtrip_caller <Wendlev14.EXE> <port> <rounds of 2 or more>\n");
        return 2;
    }
    WCHAR device[32];
    _snwprintf(device, 32, port >= 10 ? L"\\\\.\\COM%d" : L"COM%d", port);
    device[31] = 0;
    double* times[kSeries];
    for (int k = 0; k < kSeries; ++k) {
        times[k] = malloc(sizeof(double) * (size_t)rounds);
        if (!times[k]) {
            return 1;
        }
    }
    LARGE_INTEGER frequency, t0, t1;
    QueryPerformanceFrequency(&frequency);
    /* The first call prepares the module (and the system its libraries):
     * once per process, reported apart from the round trips. */
    QueryPerformanceCounter(&t0);
    int failures = !ExportsRoundTrip(&x, port, frequency, NULL);
    QueryPerformanceCounter(&t1);
    const double first = Microseconds(t0, t1, frequency);
    failures += !DirectRoundTrip(device);
    for (int i = 0; i < rounds; ++i) {
        double parts[3];
        QueryPerformanceCounter(&t0);
        failures += !ExportsRoundTrip(&x, port, frequency, parts);
        QueryPerformanceCounter(&t1);
        times[kWhole][i] = Microseconds(t0, t1, frequency);
        times[kOpen][i] = parts[0];
        times[kSend][i] = parts[1];
        times[kClose][i] = parts[2];
        QueryPerformanceCounter(&t0);
        failures += !DirectRoundTrip(device);
        QueryPerformanceCounter(&t1);
        times[kDirect][i] = Microseconds(t0, t1, frequency);
    }
    double median[kSeries], mean[kSeries];
    for (int k = 0; k < kSeries; ++k) {
        Summarise(times[k], rounds, &median[k], &mean[k]);
        free(times[k]);
    }
    printf("roundtrip rounds=%d failures=%d payload=%u\n", rounds, failures,
           (unsigned)(sizeof kPayload - 1));
    printf("roundtrip first_call_us=%.1f\n", first);
    printf("roundtrip exports median_us=%.1f mean_us=%.1f\n", median[kWhole], mean[kWhole]);
    printf("roundtrip direct median_us=%.1f mean_us=%.1f\n", median[kDirect], mean[kDirect]);
    printf("roundtrip ratio median=%.2f mean=%.2f\n", median[kWhole] / median[kDirect],
           mean[kWhole] / mean[kDirect]);
    printf("roundtrip parts median_us open=%.1f send=%.1f close=%.1f\n", median[kOpen],
           median[kSend], median[kClose]);
    return failures != 0;
}
