#pragma once
// Message boxes of the code under test are recorded instead of shown (the
// test main installs the recorder), so no test ever waits for a person.
#include <windows.h>
#include <string>
#include <vector>

namespace testing_support {

struct RecordedBox {
    HWND owner;
    std::wstring text;
    std::wstring caption;
    UINT type;
};

void InstallMessageBoxRecorder();
// Returns the boxes shown since the last call and forgets them.
std::vector<RecordedBox> TakeMessageBoxes();

}  // namespace testing_support
