// The tests of the port list and the port watch on made-up devices: the
// program runs again under umockdev's preload library first.
#include <gtest/gtest.h>

#include "tests/udev/testbed.h"

int main(int argc, char** argv) {
    skarvel::test::RunUnderUmockdev(argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
