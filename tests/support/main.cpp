#include <gtest/gtest.h>

#include "platform/win32.h"

int wmain(int argc, wchar_t** argv) {
    testing::InitGoogleTest(&argc, argv);
    // The tests compare output byte for byte; keep the runner's own output apart.
    setvbuf(stdout, nullptr, _IONBF, 0);
    return RUN_ALL_TESTS();
}
