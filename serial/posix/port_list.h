// The serial ports of this machine, as the system describes them.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

struct SerialPortInfo {
    std::string device;             // "/dev/ttyUSB0"
    std::string driver;             // the kernel's driver: "ftdi_sio", "serial8250"
    std::string manufacturer;       // USB adapters: what the adapter tells
    std::string product;            //   about itself, where it does
    std::string serial_number;      //
    std::vector<std::string> by_id; // "/dev/serial/by-id/..." names of the same port
};

// The terminals of `root`/sys/class/tty that stand for hardware (those with
// a device), less the 8250 lines the kernel reserves but found no UART for;
// with their USB details and the /dev/serial/by-id links that lead to them.
// `root` is "/" but for tests, which build a system tree of their own.
// Sorted by device name, numbers in numeric order (ttyS2 before ttyS10).
std::vector<SerialPortInfo> ListSerialPorts(const std::filesystem::path& root);
