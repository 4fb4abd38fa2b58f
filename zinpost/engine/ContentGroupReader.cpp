#include "zinpost/engine/ContentGroupReader.h"

#include "zinpost/engine/Json.h"
#include "zinpost/engine/Log.h"
#include "zinpost/engine/Messages.h"
#include "zinpost/engine/TessalyWebAPI.h"
#include "zinpost/resource.h"

#include <cstdlib>

namespace {

// How a null (or absent) member reads once rendered as text.
const char kNullText[] = "null";
// The type of a group that names none.
const char kDefaultType[] = "1";

}  // namespace

int CControlJSON_For_Tessaly::SetContentGroups(ContentGroupList* roots, ContentGroupList* children,
                                               const std::string& response, std::string* message) {
    if (!roots || !children) return 0;
    roots->clear();
    children->clear();
    std::string local;

    if (response.empty()) {
        LOG_WRITE(4, "strResponse Empty Error");
        return 0;
    }

    picojson::value document;
    std::string parseError;
    const bool parsed = json::Parse(response, document, parseError);
    LOG_WRITE(0, "Response:[%s]", response.c_str());
    if (!parsed) {
        local = LoadMessageById(IDS_FOLDER_INFO_UNAVAILABLE);
    } else {
        const CTessalyWebAPI::Answer outcome = CTessalyWebAPI::ReadOutcome(document);
        if (!outcome.accepted) {
            local = outcome.detail;
        } else {
            LOG_WRITE(1, "content_groups get");
            // Anything but an array lists no group.
            const picojson::value& groups = json::Member(document, "content_groups");
            if (groups.is<picojson::array>() && groups.get<picojson::array>().size() > kMaxContentGroups) {
                LOG_WRITE(4, "content_groups: %u groups, more than %u",
                          static_cast<unsigned>(groups.get<picojson::array>().size()),
                          static_cast<unsigned>(kMaxContentGroups));
                if (message) *message = LoadMessageById(IDS_FOLDER_INFO_UNAVAILABLE);
                return 0;
            }
            if (groups.is<picojson::array>()) {
                for (const picojson::value& element : groups.get<picojson::array>()) {
                    // Only an object describes a group.
                    if (!element.is<picojson::object>()) continue;
                    ContentGroup group;
                    group.Name = json::MemberText(element, "title_ja");
                    group.Id = json::MemberText(element, "content_group_id");
                    group.ParentId = json::MemberText(element, "parent_content_group_id");
                    group.Type = json::MemberText(element, "type");
                    if (group.Type == kNullText) group.Type = kDefaultType;
                    LOG_WRITE(0, "pID:%s, myID:%s, name:%s", group.ParentId.c_str(), group.Id.c_str(),
                              group.Name.c_str());
                    // A group without a title cannot be shown: it is not listed.
                    if (group.Name.empty()) continue;
                    (group.ParentId != kNullText ? children : roots)->push_back(std::move(group));
                }
            }
            if (!roots->empty()) return 1;
            local = LoadMessageById(IDS_NO_FOLDER_INFO);
        }
    }

    if (!local.empty() && message) *message = local;
    return 0;
}
