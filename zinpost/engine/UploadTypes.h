#pragma once
// What an upload run hands to the upload request for each file.
#include <windows.h>

#include <atomic>
#include <string>

// One file's parameters, built from the settings and the file's path.
struct UploadParams {
    int folder = 0;      // content group id
    int encrypt = 0;     // non-zero: the server stores the file encrypted
    int deleteDays = -1; // publication period in days; -1 = no expiry
    std::wstring title;  // the base name, without folder and extension
    std::wstring path;   // the file whose bytes are sent
};

// The run's progress controls and flags, the same for every file of a run.
// The flags are written by one thread and read by another between steps.
struct UploadProgressContext {
    HWND progressBar = nullptr;          // range 0..100, the percentage sent
    std::wstring text;                   // not used by the upload
    HWND fileNameDisplay = nullptr;      // shows the registered name
    std::atomic<int>* transferFlag = nullptr;  // 1 while file data is written
    std::atomic<int>* cancelFlag = nullptr;    // 1: stop after the current block
};
