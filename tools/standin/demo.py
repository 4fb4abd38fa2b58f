"""Demo content for `--demo`: one account and a small content-group tree in Japanese."""

DEMO_USER = "demo"
DEMO_PASSWORD = "demo"

# Ids as strings and top-level groups with a null parent, as a listing usually
# carries them; "営業部" and "開発部" sit below "全社共有", "設計資料" one deeper.
DEMO_GROUPS = [
    {"content_group_id": "1", "parent_content_group_id": None, "title_ja": "全社共有", "type": "1"},
    {"content_group_id": "2", "parent_content_group_id": "1", "title_ja": "営業部", "type": "1"},
    {"content_group_id": "3", "parent_content_group_id": "1", "title_ja": "開発部", "type": "1"},
    {"content_group_id": "4", "parent_content_group_id": "3", "title_ja": "設計資料", "type": "1"},
    {"content_group_id": "5", "parent_content_group_id": None, "title_ja": "個人フォルダー", "type": "1"},
]


def tree_lines(groups):
    """The group tree as indented lines, for the start-up summary."""
    children = {}
    for g in groups:
        children.setdefault(g.get("parent_content_group_id"), []).append(g)
    lines = []

    def walk(parent, depth):
        for g in children.get(parent, []):
            lines.append("%s%s (id %s)" % ("    " * depth, g.get("title_ja"), g.get("content_group_id")))
            walk(g.get("content_group_id"), depth + 1)
    walk(None, 0)
    return lines
