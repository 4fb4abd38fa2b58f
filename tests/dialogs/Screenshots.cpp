#include "tests/dialogs/Screenshots.h"

#include "tests/support/StandinServer.h"
#include "tools/driver/WindowDriver.h"

#include <gtest/gtest.h>

namespace testing_support {

void Shoot(const std::wstring& name) {
    const std::string folder = EnvironmentVariable("ZINPOST_SCREENSHOT_DIR");
    ASSERT_FALSE(folder.empty()) << "ZINPOST_SCREENSHOT_DIR is not set";
    // Windows of this thread paint from its own queue; those of the
    // dialogs' threads when they are idle again.
    const ULONGLONG until = GetTickCount64() + 500;
    while (GetTickCount64() < until) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        Sleep(20);
    }
    EXPECT_TRUE(SaveScreenshot(UnixPathForWindows(folder) + L"\\" + name + L".bmp")) << name.size();
}

}  // namespace testing_support
