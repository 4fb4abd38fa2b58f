#pragma once
// Reading the server's content-group listing: the answer of
// "manageContentGroups.json" split into the top-level groups and the groups
// below them, each kept in the server's order.
#include <string>
#include <vector>

// One content group (a folder of the server). All four fields are narrow text
// in the ANSI code page, read the way every answer value is read: a number id
// 12 reads as "12.000000", a null or absent member as "null".
struct ContentGroup {
    std::string ParentId;  // "parent_content_group_id"; "null" at the top level
    std::string Id;        // "content_group_id"
    std::string Name;      // "title_ja"
    std::string Type;      // "type"; "1" when null or absent

    bool operator==(const ContentGroup& other) const {
        return ParentId == other.ParentId && Id == other.Id && Name == other.Name && Type == other.Type;
    }
    bool operator!=(const ContentGroup& other) const { return !(*this == other); }
};
using ContentGroupList = std::vector<ContentGroup>;

// The most groups a listing may hold. Real servers list a few hundred to a
// few thousand; this is twenty times the largest tree one could sensibly
// pick a folder from, and still a tree the folder dialog builds in seconds.
// A listing of more is not a listing (a broken or hostile server): it reads
// as one that cannot be read.
constexpr size_t kMaxContentGroups = 100000;

class CControlJSON_For_Tessaly {
public:
    // Clears both lists and fills them from the listing `response`: groups
    // whose parent reads as "null" go to `roots`, all others to `children`;
    // a group with an empty title is dropped. 1 when at least one top-level
    // group was read. 0 otherwise, with the text for the user in *message:
    // 117 when the answer is not JSON or lists more than kMaxContentGroups
    // groups, the server's text for its errno when
    // "success" is not true, 119 when no top-level group is listed (the child
    // list is filled all the same). An empty response gives 0 and leaves
    // *message as it was.
    static int SetContentGroups(ContentGroupList* roots, ContentGroupList* children, const std::string& response,
                                std::string* message);
};
