#pragma once
// The process's kept content-group listing: the last listing fetched, shown
// by the folder selection dialog at once when it opens again. Three writers
// fill it (the start-up listing thread, the settings dialog's account
// confirmation, the folder dialog's own synchronous load and background
// refresh) and nobody holds its lock across a request.
//
// While a view (the folder dialog's tree) shows the kept listing, a fresh
// listing is handed to that view, which patches itself with the differences
// and has the cache keep the listing in the same step: what the view shows
// is always the kept listing.
#include "zinpost/engine/ContentGroupReader.h"

#include <mutex>
#include <string>

struct GroupListing {
    ContentGroupList parents;   // top-level groups, in server order
    ContentGroupList children;  // all others, in server order
};

// What differs between two record lists: records of the new list not in the
// kept one (added), kept records gone from it (deleted), and new records
// whose id is kept with other fields (rewritten).
struct GroupChanges {
    ContentGroupList added;
    ContentGroupList deleted;
    ContentGroupList rewritten;
};

// A view that shows the kept listing (the folder dialog while open).
class IGroupListingView {
public:
    virtual ~IGroupListingView() = default;
    // Shows `fresh` in place of the kept listing and has the cache keep it
    // (Keep); false when the view is gone. Called on any thread: the view
    // hands the work to its own.
    virtual bool ShowListing(GroupListing& fresh) = 0;
};

class CContentGroupCache {
public:
    // The process-wide cache, created on first use and destroyed at exit.
    static CContentGroupCache& GetInstance();

    void SetLoaded(int loaded);
    int Loaded() const;
    // Not loaded: fetches the listing into the kept lists now (1 when it
    // holds a top-level group, else 0 with the reason in `error`). Loaded:
    // starts the background refresh and returns 1 at once.
    int GetGroupInfoTree(std::string& error);
    // The background refresh (folder-refresh thread): fetches a fresh
    // listing and keeps it, through the view when one shows it; on failure
    // the next opening loads again. 1 when refreshed.
    int BackGroundUpdateInfoTree();
    // Fetches the listing into the kept lists; as the listing request.
    int FetchContentGroups(std::string& error);
    // A copy of the kept lists.
    GroupListing Kept() const;

    // The view that shows the kept listing from now on (null: none). Set
    // before the view reads the kept lists: a listing kept from then on
    // goes through it.
    void SetView(IGroupListingView* view);
    // Whether `fresh` equals the kept listing; else its differences to it.
    bool Differences(const GroupListing& fresh, GroupChanges& changes) const;
    // Keeps `fresh` (the view, once it shows it).
    void Keep(GroupListing fresh);

    // True when both new lists hold the same records as the kept ones.
    bool CompUpdateContentGroups(const ContentGroupList& newParents, const ContentGroupList& newChildren) const;
    // Appends to `out` what differs between `base` (new) and `comp` (kept):
    // records of `base` not in `comp` (added), records of `comp` not in
    // `base` (deleted), records of `base` whose id is in `comp` with other
    // fields (rewritten). Each record of `comp` meets the first record of
    // `base` with its id.
    static void GetDefContentGroup(GroupChanges& out, const ContentGroupList& base, const ContentGroupList& comp);

private:
    // Keeps a fetched listing: through the view while one shows the kept
    // listing, else at once.
    void StoreListing(GroupListing listing);
    bool SameAsKept(const GroupListing& fresh) const;  // under m_mutex

    mutable std::mutex m_mutex;  // the kept lists, the loaded flag, the view
    int m_loaded = 0;
    ContentGroupList m_vstParentGroup;
    ContentGroupList m_vstChildGroup;
    IGroupListingView* m_view = nullptr;
};
