// What Windows takes for something other than one plain file: a stream
// name, a device, a name whose trailing dot or blank it drops.
#include <gtest/gtest.h>

#include "core/local_name.h"

using namespace skarvel;

TEST(LocalNamesWin, StreamsDevicesAndTrailingDotsAreRefused) {
    for (const char* name : {"A:B.TNC", "A*.TNC", "A?.TNC", "A\"B", "A<B", "A>B", "A|B", "PROG.", "PROG ", "CON",
                             "con.txt", "NUL.TNC", "AUX", "PRN.LST", "COM1.LST", "lpt9", "COM1 .TNC"})
        EXPECT_FALSE(IsLocalFileName(name)) << name;
}
