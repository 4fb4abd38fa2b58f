#pragma once
// The process's kept content-group listing: the groups the folder selection
// dialog shows, loaded once in the background when the program starts (so
// that they are there before the dialog first opens) and refreshed in the
// background afterwards. One lock keeps its writers apart.
#include "zinpost/engine/ControlJSON.h"
#include "zinpost/engine/ThreadAgent.h"

#include <mutex>

class CFolderListing : public IFolderTree {
public:
    // The process-wide listing, created on first use.
    static CFolderListing& GetInstance();

    void SetLoaded(int loaded) override;
    int Loaded() const;
    // Not loaded: fetches the listing into the kept lists now (1 when it
    // holds a top-level group, else 0 with the reason in `error`). Loaded:
    // starts the background refresh and returns 1 at once.
    int GetGroupInfoTree(std::string& error) override;
    // Fetches a fresh listing and keeps it when it differs; on failure the
    // next GetGroupInfoTree loads again. 1 when refreshed.
    int BackGroundUpdateInfoTree() override;

    // Copies of the kept lists.
    ContentGroupList Parents() const;
    ContentGroupList Children() const;

private:
    mutable std::mutex m_mutex;
    int m_loaded = 0;
    ContentGroupList m_vstParentGroup;
    ContentGroupList m_vstChildGroup;
};
