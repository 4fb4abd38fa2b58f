#pragma once
// One file of an upload run and the run's result list. The program builds the
// list; the result display library reads it in place, so both are built
// against this one definition.
#include <list>
#include <string>

struct UploadEntry {
    std::wstring Path;   // the path, at the end of a run the line shown for the file
    int Succeeded = 0;   // 1 once the file was uploaded without error
};

using UploadEntryList = std::list<UploadEntry>;
