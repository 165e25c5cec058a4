// The settings store as programs without Qt read it: values of the INI file
// exactly as QSettings writes them.
#include <gtest/gtest.h>

#include <string>

#include "core/settings_store.h"

namespace skarvel {
namespace {

TEST(SettingsStore, ReadsTextsAsQSettingsWritesThem) {
    // Each line as QSettings 6 writes the text on the right.
    const struct {
        const char* line;
        const char* text;
    } cases[] = {
        {"name=/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0",
         "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"},
        {"name=COM2", "COM2"},
        {"name=\" lead\"", " lead"},
        {"name=\"a,b\"", "a,b"},
        {"name=\"semi;colon\"", "semi;colon"},
        {"name=\"eq=1\"", "eq=1"},
        {"name=q\\\"uote", "q\"uote"},
        {"name=back\\\\slash", "back\\slash"},
        {"name=@@at", "@at"},
        {"name=\xD0\x9F\xD0\xBE\xD1\x80\xD1\x82 1", "\xD0\x9F\xD0\xBE\xD1\x80\xD1\x82 1"},  // "Порт 1"
        {"name=tab\\there", "tab\there"},
        {"name=x\\x1\\x35", "x\x01" "5"},
        {"name=/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0",
         "/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0"},
        {"name = spaced ", "spaced"},
        {"name=", ""},
    };
    for (const auto& c : cases) {
        std::string value = "unchanged";
        EXPECT_TRUE(IniValue(std::string("[port]\r\n") + c.line + "\r\n", "port/name", value)) << c.line;
        EXPECT_EQ(value, c.text) << c.line;
    }
}

TEST(SettingsStore, FindsTheKeyInItsOwnSectionOnly) {
    const std::string text =
        "[General]\nname=general\n\n[window]\nname=window\ngeometry=@ByteArray(x)\n"
        "[port]\nbaudRate=115200\nname=ttyUSB0\n[portx]\nname=other\n";
    std::string value;
    ASSERT_TRUE(IniValue(text, "port/name", value));
    EXPECT_EQ(value, "ttyUSB0");
    ASSERT_TRUE(IniValue(text, "name", value));
    EXPECT_EQ(value, "general");
    EXPECT_FALSE(IniValue(text, "port/parity", value));
    EXPECT_FALSE(IniValue("[port]\n", "port/name", value));
    EXPECT_FALSE(IniValue("", "port/name", value));
}

}  // namespace
}  // namespace skarvel
