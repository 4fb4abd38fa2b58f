#pragma once
// The main window's side of an upload run, as the upload thread sees it.

class IUploadWindow {
public:
    virtual ~IUploadWindow() = default;
    // The whole run; called on the upload thread.
    virtual void UploadFunction() = 0;
    // 1 while file data is written and from the end of a run until the
    // window is idle again.
    virtual int TransferFlag() const = 0;
};
