// What the port list says of a port, on every platform: its description and
// the name it is remembered by.
#include <gtest/gtest.h>

#include <string>

#include "link/port_enum.h"

namespace skarvel {
namespace {

TPortInfo Port(bool usb, const std::string& vendor, const std::string& model, const std::string& serial,
               const std::string& driver) {
    TPortInfo p;
    p.Name = "ttyUSB0";
    p.Usb = usb;
    p.Vendor = vendor;
    p.Model = model;
    p.Serial = serial;
    p.Driver = driver;
    return p;
}

TEST(PortNames, DescriptionSaysWhatIsKnown) {
    const struct {
        TPortInfo port;
        const char* text;
    } cases[] = {
        {Port(true, "FTDI", "FT232R USB UART", "A50285BI", "ftdi_sio"), "FT232R USB UART (A50285BI)"},
        {Port(true, "FTDI", "", "A50285BI", "ftdi_sio"), "FTDI (A50285BI)"},
        {Port(true, "", "", "A50285BI", "ftdi_sio"), "A50285BI"},
        {Port(true, "QinHeng", "USB Serial", "", "ch341"), "USB Serial"},
        {Port(true, "", "", "", "ch341"), "ch341"},
        // A serial number says nothing of a port on the board.
        {Port(false, "", "", "123", "serial8250"), "serial8250"},
        {Port(false, "", "16C950 card", "", "serial"), "16C950 card"},
        {Port(false, "", "", "", ""), ""},
    };
    for (const auto& c : cases) EXPECT_EQ(PortDescription(c.port), c.text) << c.text;
}

TEST(PortNames, AnAdapterIsRememberedByItsStableName) {
    TPortInfo p = Port(true, "FTDI", "FT232R USB UART", "A50285BI", "ftdi_sio");
    EXPECT_EQ(RememberedName(p), "ttyUSB0");
    p.ById = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
    EXPECT_EQ(RememberedName(p), p.ById);
}

TEST(PortNames, SortedIgnoringCase) {
    std::vector<std::string> names{"COM2", "com10", "COM1", "Com3"};
    SortPortNames(names);
    EXPECT_EQ(names, (std::vector<std::string>{"COM1", "com10", "COM2", "Com3"}));
    std::vector<TPortInfo> ports(3);
    ports[0].Name = "ttyUSB0";
    ports[1].Name = "ttyACM0";
    ports[2].Name = "ttyS0";
    SortPorts(ports);
    EXPECT_EQ(ports[0].Name, "ttyACM0");
    EXPECT_EQ(ports[1].Name, "ttyS0");
    EXPECT_EQ(ports[2].Name, "ttyUSB0");
}

}  // namespace
}  // namespace skarvel
