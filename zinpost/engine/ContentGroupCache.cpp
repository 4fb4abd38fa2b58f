#include "zinpost/engine/ContentGroupCache.h"

#include "zinpost/engine/CommServer.h"
#include "zinpost/engine/Log.h"
#include "zinpost/engine/Messages.h"
#include "zinpost/engine/ThreadAgent.h"
#include "zinpost/resource.h"

#include <functional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace {

struct GroupHash {
    size_t operator()(const ContentGroup& g) const {
        const std::hash<std::string> h;
        return ((h(g.ParentId) * 31 + h(g.Id)) * 31 + h(g.Name)) * 31 + h(g.Type);
    }
};

void LogChanges(const char* kind, const ContentGroupList& groups) {
    for (const ContentGroup& g : groups) LOG_WRITE(2, "<%s> myID:%s, Name:%s", kind, g.Id.c_str(), g.Name.c_str());
}

}  // namespace

CContentGroupCache& CContentGroupCache::GetInstance() {
    static CContentGroupCache instance;
    return instance;
}

void CContentGroupCache::SetLoaded(int loaded) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_loaded = loaded;
}

int CContentGroupCache::Loaded() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_loaded;
}

GroupListing CContentGroupCache::Kept() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return GroupListing{m_vstParentGroup, m_vstChildGroup};
}

int CContentGroupCache::GetGroupInfoTree(std::string& error) {
    if (Loaded() == 1) {
        if (CThreadAgent* agent = CThreadAgent::GetInstance()) agent->StartUpdateFolderTreeThread();
        return 1;
    }
    LOG_WRITE(1, "GetGroupInfoTree Start");
    return FetchContentGroups(error);
}

int CContentGroupCache::FetchContentGroups(std::string& error) {
    GroupListing fresh;
    const int result = CCommServer().GetManageContentGroups(&error, &fresh.parents, &fresh.children);
    if (result == 1) {
        StoreListing(std::move(fresh));
    } else {
        // The kept lists hold what the failed listing gave (nothing, or the
        // groups below a missing top level), unless a view still shows them.
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_view) {
            m_vstParentGroup = std::move(fresh.parents);
            m_vstChildGroup = std::move(fresh.children);
        }
    }
    return result;
}

int CContentGroupCache::BackGroundUpdateInfoTree() {
    std::string error = LoadMessageById(IDS_SERVER_MESSAGE_UNREADABLE);
    GroupListing fresh;
    if (!CCommServer().GetManageContentGroups(&error, &fresh.parents, &fresh.children)) {
        LOG_WRITE(1, "BackGroundUpdateInfoTree failed[%s]", error.c_str());
        SetLoaded(0);  // the next opening loads again
        return 0;
    }
    StoreListing(std::move(fresh));
    return 1;
}

void CContentGroupCache::StoreListing(GroupListing listing) {
    for (IGroupListingView* failed = nullptr;;) {
        IGroupListingView* view = nullptr;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            view = m_view;
            if (!view || view == failed) {
                m_vstParentGroup = std::move(listing.parents);
                m_vstChildGroup = std::move(listing.children);
                return;
            }
        }
        // A view gone meanwhile shows nothing: the listing is kept without it.
        if (view->ShowListing(listing)) return;
        failed = view;
    }
}

void CContentGroupCache::SetView(IGroupListingView* view) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_view = view;
}

bool CContentGroupCache::Differences(const GroupListing& fresh, GroupChanges& changes) const {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (SameAsKept(fresh)) return false;
        LOG_WRITE(2, "CompUpdateContentGroups: FALSE");
        GetDefContentGroup(changes, fresh.parents, m_vstParentGroup);
        GetDefContentGroup(changes, fresh.children, m_vstChildGroup);
    }
    LogChanges("AddContent", changes.added);
    LogChanges("DeleteContent", changes.deleted);
    LogChanges("RewriteContent", changes.rewritten);
    return true;
}

void CContentGroupCache::Keep(GroupListing fresh) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_vstParentGroup = std::move(fresh.parents);
    m_vstChildGroup = std::move(fresh.children);
}

bool CContentGroupCache::CompUpdateContentGroups(const ContentGroupList& newParents,
                                                 const ContentGroupList& newChildren) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return SameAsKept(GroupListing{newParents, newChildren});
}

bool CContentGroupCache::SameAsKept(const GroupListing& fresh) const {
    if (fresh.parents.size() != m_vstParentGroup.size() || fresh.children.size() != m_vstChildGroup.size())
        return false;
    const auto allKept = [](const ContentGroupList& list, const ContentGroupList& kept) {
        const std::unordered_set<ContentGroup, GroupHash> known(kept.begin(), kept.end());
        for (const ContentGroup& g : list)
            if (!known.count(g)) return false;
        return true;
    };
    return allKept(fresh.children, m_vstChildGroup) && allKept(fresh.parents, m_vstParentGroup);
}

void CContentGroupCache::GetDefContentGroup(GroupChanges& out, const ContentGroupList& base,
                                            const ContentGroupList& comp) {
    LOG_WRITE(2, "GetDef:base[%d], comp[%d]", static_cast<int>(base.size()), static_cast<int>(comp.size()));
    std::unordered_map<std::string, size_t> firstById;
    for (size_t i = 0; i < base.size(); ++i) firstById.emplace(base[i].Id, i);
    std::vector<bool> matched(base.size(), false);
    for (const ContentGroup& c : comp) {
        const auto found = firstById.find(c.Id);
        if (found == firstById.end()) {
            out.deleted.push_back(c);
            continue;
        }
        if (base[found->second] != c) out.rewritten.push_back(base[found->second]);
        matched[found->second] = true;
    }
    for (size_t i = 0; i < base.size(); ++i)
        if (!matched[i]) out.added.push_back(base[i]);
}
