#pragma once
// Paths of the user's files as the file functions take them.
#include <string>

namespace fw {

// `path` in the form every file function accepts whatever its length: as it
// is when it is shorter than MAX_PATH, else its full path in the "\\?\" form
// ("\\?\C:\...", "\\?\UNC\server\share\..."), which lifts the limit of
// MAX_PATH characters on systems where long paths are not enabled.
std::wstring LongPathForm(const std::wstring& path);

}  // namespace fw
