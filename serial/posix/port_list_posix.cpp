// The port list, read from sysfs and /dev/serial/by-id. Nothing here opens
// a port: a listing must not reset a board or disturb a program using it.
#include "serial/posix/port_list.h"

#include <algorithm>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// The first line of a sysfs attribute, or "" where there is none.
std::string ReadAttribute(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) {
        line.pop_back();
    }
    return line;
}

// The serial core keeps an entry for every 8250 line it reserves; one with
// no UART behind it has the port type 0 (PORT_UNKNOWN).
bool IsUnusedUartLine(const fs::path& tty) {
    std::error_code error;
    return fs::exists(tty / "type", error) && ReadAttribute(tty / "type") == "0";
}

// The driver of the port's device. Newer kernels put the serial core's own
// "port" and "ctrl" devices (bus serial-base) between the tty and the
// hardware: the driver that names the hardware is above them.
std::string DriverOf(const fs::path& device) {
    std::error_code error;
    fs::path dir = fs::canonical(device, error);
    for (int level = 0; level < 4 && !error && dir.has_relative_path(); ++level) {
        std::error_code no_link;
        if (fs::read_symlink(dir / "subsystem", no_link).filename() != "serial-base") {
            return fs::read_symlink(dir / "driver", no_link).filename().string();
        }
        dir = dir.parent_path();
    }
    return "";
}

// A USB adapter's tty device sits one to three levels below the USB device
// that holds idVendor, product and manufacturer.
void ReadUsbDetails(const fs::path& device, SerialPortInfo& port) {
    std::error_code error;
    fs::path dir = fs::canonical(device, error);
    for (int level = 0; level < 4 && !error && dir.has_relative_path(); ++level) {
        if (fs::exists(dir / "idVendor", error)) {
            port.manufacturer = ReadAttribute(dir / "manufacturer");
            port.product = ReadAttribute(dir / "product");
            port.serial_number = ReadAttribute(dir / "serial");
            return;
        }
        dir = dir.parent_path();
    }
}

// The by-id names whose link leads to the device called `name`.
std::vector<std::string> ByIdNames(const fs::path& root, const std::string& name) {
    std::vector<std::string> names;
    const fs::path by_id = root / "dev/serial/by-id";
    std::error_code error;
    for (fs::directory_iterator it(by_id, error), end; !error && it != end; it.increment(error)) {
        const fs::path target = fs::read_symlink(it->path(), error);
        if (error) {
            error.clear();
            continue;
        }
        if (target.filename() == name) {
            names.push_back("/dev/serial/by-id/" + it->path().filename().string());
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

// "ttyS10" after "ttyS2": the name's trailing number compares as a number.
bool NaturalLess(const std::string& a, const std::string& b) {
    const auto split = [](const std::string& name) {
        std::size_t digits = name.size();
        while (digits > 0 && name[digits - 1] >= '0' && name[digits - 1] <= '9') {
            --digits;
        }
        const std::string number = name.substr(digits);
        return std::make_pair(name.substr(0, digits), std::make_pair(number.size(), number));
    };
    return split(a) < split(b);
}

} // namespace

std::vector<SerialPortInfo> ListSerialPorts(const fs::path& root) {
    std::vector<SerialPortInfo> ports;
    std::error_code error;
    for (fs::directory_iterator it(root / "sys/class/tty", error), end; !error && it != end;
         it.increment(error)) {
        const fs::path tty = it->path();
        const fs::path device = tty / "device";
        std::error_code missing;
        if (!fs::exists(device, missing) || IsUnusedUartLine(tty)) {
            continue;
        }
        const std::string name = tty.filename().string();
        SerialPortInfo port;
        port.device = "/dev/" + name;
        port.driver = DriverOf(device);
        ReadUsbDetails(device, port);
        port.by_id = ByIdNames(root, name);
        ports.push_back(std::move(port));
    }
    std::sort(ports.begin(), ports.end(), [](const SerialPortInfo& a, const SerialPortInfo& b) {
        return NaturalLess(a.device, b.device);
    });
    return ports;
}
