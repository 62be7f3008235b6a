// wendle-send --list, on a system tree built for the test (this machine has
// no USB adapter).
#include "tests/support/tool_run.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

// The shapes the kernel gives: a USB adapter (tty below the USB interface,
// details on the USB device), 8250 lines with and without a UART behind them
// (newer kernels put the serial core's port devices in between), and a
// virtual console with no device.
TEST(PortList, TheToolPrintsThem) {
    const fs::path root = testing::TempDir() + "wendle_sys_" + std::to_string(getpid());
    const auto link = [&](const std::string& at, const std::string& to) {
        fs::create_directories(root / to);
        fs::create_directories((root / at).parent_path());
        fs::create_symlink(root / to, root / at);
    };
    const auto tty = [&](const std::string& name, const std::string& device, const std::string& bus,
                         const std::string& driver, const std::string& type) {
        link(device + "/subsystem", "sys/bus/" + bus);
        link(device + "/driver", "sys/bus/" + bus + "/drivers/" + driver);
        link("sys/class/tty/" + name + "/device", device);
        if (!type.empty()) {
            std::ofstream(root / "sys/class/tty" / name / "type") << type << "\n";
        }
    };
    const std::string usb = "sys/devices/pci0000:00/usb1/1-1";
    tty("ttyUSB0", usb + "/1-1:1.0/ttyUSB0", "usb-serial", "ftdi_sio", "");
    for (const auto& [file, value] : {std::pair{"idVendor", "0403"},
                                      {"manufacturer", "FTDI"},
                                      {"product", "FT232R USB UART"},
                                      {"serial", "A50285BI"}}) {
        std::ofstream(root / usb / file) << value << "\n";
    }
    link("sys/devices/pnp0/00:00/subsystem", "sys/bus/pnp");
    link("sys/devices/pnp0/00:00/driver", "sys/bus/pnp/drivers/serial");
    link("sys/devices/pnp0/00:00/00:00:0/subsystem", "sys/bus/serial-base");
    tty("ttyS0", "sys/devices/pnp0/00:00/00:00:0/00:00:0.0", "serial-base", "port", "4");
    for (const std::string name : {"ttyS2", "ttyS10", "ttyS1"}) {
        tty(name, "sys/devices/platform/serial8250/tty/" + name, "platform", "serial8250",
            name == "ttyS1" ? "0" : "4");
    }
    fs::create_directories(root / "sys/class/tty/tty1");
    fs::create_directories(root / "dev/serial/by-id");
    fs::create_symlink("../../ttyUSB0",
                       root / "dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");

    const ToolRun run =
        RunTool(WENDLE_SEND_TOOL, {"--list"}, "", {"WENDLE_SYSTEM_ROOT=" + root.string()});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.out, "/dev/ttyS0  driver serial\n"
                       "/dev/ttyS2  driver serial8250\n"
                       "/dev/ttyS10  driver serial8250\n"
                       "/dev/ttyUSB0  FTDI FT232R USB UART (serial A50285BI), driver ftdi_sio\n"
                       "    /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0\n");
    fs::remove_all(root);
}
