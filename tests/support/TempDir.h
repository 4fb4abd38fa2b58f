#pragma once
// A scratch folder under the system's temporary folder, removed with all its
// content when the object goes away.
#include <string>

namespace testing_support {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::wstring& Path() const { return m_path; }
    // Path() + "\" + name
    std::wstring File(const std::wstring& name) const { return m_path + L"\\" + name; }

private:
    std::wstring m_path;
};

// Writes `bytes` to `path`, replacing it; false on failure.
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
// The whole file; empty when it cannot be read.
std::string ReadFileBytes(const std::wstring& path);
bool FileExists(const std::wstring& path);

// Makes the current directory `path` for the lifetime of the object.
class CurrentDirectory {
public:
    explicit CurrentDirectory(const std::wstring& path);
    ~CurrentDirectory();
    CurrentDirectory(const CurrentDirectory&) = delete;
    CurrentDirectory& operator=(const CurrentDirectory&) = delete;

private:
    std::wstring m_previous;
};

// Puts a folder in front of the process's PATH (where the program looks for
// the converter) until the object goes; an empty folder leaves PATH as it was.
class PathFront {
public:
    explicit PathFront(const std::wstring& folder = std::wstring());
    ~PathFront();
    PathFront(const PathFront&) = delete;
    PathFront& operator=(const PathFront&) = delete;
    void Set(const std::wstring& folder) const;

private:
    std::wstring m_original;
};

}  // namespace testing_support
