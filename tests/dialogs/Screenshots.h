#pragma once
// Pictures of the desktop for looking at the dialogs: into the folder named
// by ZINPOST_SCREENSHOT_DIR, one BMP per name.
#include <string>

namespace testing_support {

// Lets the windows paint, then saves "<folder>\<name>.bmp".
void Shoot(const std::wstring& name);

}  // namespace testing_support
