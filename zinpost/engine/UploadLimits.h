#pragma once
// The limits and timing of the file upload request,
// CTessalyWebAPI::UploadContentFile (declared in TessalyWebAPI.h).
#include <windows.h>

// The file is read and counted in blocks of this size; the progress bar and
// the cancel flag are served after every block.
constexpr DWORD kUploadBlockSize = 10240;
// Blocks gathered before they are handed to the network in one write (960
// KiB): every network write costs far more than a block's read, and the
// buffer stays the same size whatever the file's.
constexpr DWORD kUploadSendBufferBlocks = 96;
// A network failure starts the whole transfer again, at most this often in
// all, after a pause.
constexpr int kUploadAttempts = 4;
constexpr DWORD kUploadRetryPauseMs = 2000;
// 400 MiB; a file of exactly this size is still sent.
constexpr ULONGLONG kUploadMaxFileSize = 419430400;

// Tests shorten the pause between attempts; the program never calls this.
void SetUploadRetryPauseForTesting(DWORD milliseconds);
