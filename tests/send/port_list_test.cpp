// wendle-send --list, on a system tree built for the test (this machine has
// no USB adapter).
#include "serial/port_list.h"
#include "tests/support/tool_run.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

// A tree of the shapes the kernel gives: a USB adapter (tty below the USB
// interface, details on the USB device), 8250 lines with and without a UART
// behind them (the serial core's port devices in between), and a virtual
// console with no device.
class FakeSystem {
  public:
    FakeSystem() : root_(testing::TempDir() + "wendle_sys_" + std::to_string(getpid())) {
        const fs::path usb = root_ / "sys/devices/pci0000:00/usb1/1-1";
        Attribute(usb / "idVendor", "0403");
        Attribute(usb / "manufacturer", "FTDI");
        Attribute(usb / "product", "FT232R USB UART");
        Attribute(usb / "serial", "A50285BI");
        Tty("ttyUSB0", usb / "1-1:1.0/ttyUSB0", "usb-serial", "ftdi_sio", "");
        const fs::path pnp = root_ / "sys/devices/pnp0/00:00";
        Link(pnp / "subsystem", root_ / "sys/bus/pnp");
        Link(pnp / "driver", root_ / "sys/bus/pnp/drivers/serial");
        Link(pnp / "00:00:0/subsystem", root_ / "sys/bus/serial-base");
        Tty("ttyS0", pnp / "00:00:0/00:00:0.0", "serial-base", "port", "4");
        Tty("ttyS2", root_ / "sys/devices/platform/serial8250/tty/ttyS2", "platform", "serial8250",
            "4");
        Tty("ttyS10", root_ / "sys/devices/platform/serial8250/tty/ttyS10", "platform",
            "serial8250", "4");
        Tty("ttyS1", root_ / "sys/devices/platform/serial8250/tty/ttyS1", "platform", "serial8250",
            "0");
        fs::create_directories(root_ / "sys/class/tty/tty1");
        fs::create_directories(root_ / "dev/serial/by-id");
        fs::create_symlink("../../ttyUSB0",
                           root_ / "dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
    }
    ~FakeSystem() { fs::remove_all(root_); }

    const fs::path& root() const { return root_; }

  private:
    static void Attribute(const fs::path& file, const std::string& value) {
        fs::create_directories(file.parent_path());
        std::ofstream(file) << value << "\n";
    }
    static void Link(const fs::path& link, const fs::path& target) {
        fs::create_directories(link.parent_path());
        fs::create_directories(target);
        fs::create_symlink(target, link);
    }
    void Tty(const std::string& name, const fs::path& device, const std::string& bus,
             const std::string& driver, const std::string& type) {
        Link(device / "subsystem", root_ / "sys/bus" / bus);
        Link(device / "driver", root_ / "sys/bus" / bus / "drivers" / driver);
        Link(root_ / "sys/class/tty" / name / "device", device);
        if (!type.empty()) {
            Attribute(root_ / "sys/class/tty" / name / "type", type);
        }
    }

    fs::path root_;
};

TEST(PortList, TheToolPrintsThem) {
    FakeSystem system;
    const ToolRun run =
        RunTool(WENDLE_SEND_TOOL, {"--list"}, "", {"WENDLE_SYSTEM_ROOT=" + system.root().string()});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.out, "/dev/ttyS0  driver serial\n"
                       "/dev/ttyS2  driver serial8250\n"
                       "/dev/ttyS10  driver serial8250\n"
                       "/dev/ttyUSB0  FTDI FT232R USB UART (serial A50285BI), driver ftdi_sio\n"
                       "    /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0\n");

    const ToolRun empty = RunTool(WENDLE_SEND_TOOL, {"--list"}, "",
                                  {"WENDLE_SYSTEM_ROOT=" + system.root().string() + "/none"});
    EXPECT_EQ(empty.exit_code, 0);
    EXPECT_EQ(empty.out.rfind("No serial ports found.", 0), 0u) << empty.out;
}

} // namespace
