#include "zinpost/engine/FolderListing.h"

#include "zinpost/engine/CommServer.h"
#include "zinpost/engine/Log.h"
#include "zinpost/engine/Messages.h"
#include "zinpost/ui/resource.h"

CFolderListing& CFolderListing::GetInstance() {
    static CFolderListing instance;
    return instance;
}

void CFolderListing::SetLoaded(int loaded) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_loaded = loaded;
}

int CFolderListing::Loaded() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_loaded;
}

int CFolderListing::GetGroupInfoTree(std::string& error) {
    if (Loaded() == 1) {
        if (CThreadAgent* agent = CThreadAgent::GetInstance()) agent->StartUpdateFolderTreeThread();
        return 1;
    }
    LOG_WRITE(1, "GetGroupInfoTree Start");
    ContentGroupList parents, children;
    const int result = CCommServer().GetManageContentGroups(&error, &parents, &children);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_vstParentGroup = std::move(parents);
    m_vstChildGroup = std::move(children);
    return result;
}

int CFolderListing::BackGroundUpdateInfoTree() {
    std::string error = LoadMessageById(IDS_SERVER_MESSAGE_UNREADABLE);
    ContentGroupList parents, children;
    if (!CCommServer().GetManageContentGroups(&error, &parents, &children)) {
        SetLoaded(0);
        return 0;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    if (parents != m_vstParentGroup || children != m_vstChildGroup) {
        LOG_WRITE(1, "CompUpdateContentGroups: FALSE");
        m_vstParentGroup = std::move(parents);
        m_vstChildGroup = std::move(children);
    }
    return 1;
}

ContentGroupList CFolderListing::Parents() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_vstParentGroup;
}

ContentGroupList CFolderListing::Children() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_vstChildGroup;
}
