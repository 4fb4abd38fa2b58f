#include "tests/support/MessageBoxRecorder.h"

#include "framework/MessageBox.h"

#include <mutex>
#include <utility>

namespace testing_support {
namespace {

std::mutex g_mutex;
std::vector<RecordedBox> g_boxes;

int Record(HWND owner, const std::wstring& text, const std::wstring& caption, UINT type) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_boxes.push_back(RecordedBox{owner, text, caption, type});
    return (type & MB_TYPEMASK) == MB_YESNO || (type & MB_TYPEMASK) == MB_YESNOCANCEL ? IDYES : IDOK;
}

}  // namespace

void InstallMessageBoxRecorder() { fw::SetMessageBoxHook(Record); }

std::vector<RecordedBox> TakeMessageBoxes() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return std::exchange(g_boxes, {});
}

}  // namespace testing_support
