#include "remote.h"

#include <cstring>

namespace e2e {
namespace {

constexpr DWORD kSendTimeoutMs = 10000;
constexpr size_t kTextSize = 1024;
constexpr size_t kItemSize = 256; // room for every version of the item structures

// Sends a message and waits for it, with a limit so that a hung program
// fails the run instead of hanging it.
LRESULT Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(window, message, wParam, lParam, SMTO_NORMAL, kSendTimeoutMs, &result))
        throw RemoteError("window does not answer message " + std::to_string(message));
    return static_cast<LRESULT>(result);
}

LPARAM Ptr(const void* p) {
    return reinterpret_cast<LPARAM>(p);
}

} // namespace

RemoteBuffer::RemoteBuffer(HWND owner, size_t size) : size_(size) {
    DWORD pid = 0;
    GetWindowThreadProcessId(owner, &pid);
    process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (process_ == nullptr)
        throw RemoteError("cannot open process " + std::to_string(pid));
    address_ = VirtualAllocEx(process_, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (address_ == nullptr) {
        CloseHandle(process_);
        throw RemoteError("cannot allocate memory in process " + std::to_string(pid));
    }
}

RemoteBuffer::~RemoteBuffer() {
    VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
    CloseHandle(process_);
}

void RemoteBuffer::Write(size_t offset, const void* data, size_t size) {
    SIZE_T done = 0;
    if (offset + size > size_ || !WriteProcessMemory(process_, At(offset), data, size, &done) ||
        done != size)
        throw RemoteError("cannot write the other process's memory");
}

void RemoteBuffer::Read(size_t offset, void* data, size_t size) const {
    SIZE_T done = 0;
    if (offset + size > size_ || !ReadProcessMemory(process_, At(offset), data, size, &done) ||
        done != size)
        throw RemoteError("cannot read the other process's memory");
}

std::string RemoteBuffer::ReadText(size_t offset, size_t maxSize) const {
    std::string text(maxSize, '\0');
    Read(offset, text.data(), maxSize);
    text.resize(text.find('\0') == std::string::npos ? maxSize - 1 : text.find('\0'));
    return text;
}

std::vector<TreeEntry> ReadTree(HWND tree) {
    std::vector<TreeEntry> entries;
    RemoteBuffer buffer(tree, sizeof(TVITEMA) + kTextSize);
    // Depth-first walk with an explicit stack of (item, level).
    std::vector<std::pair<HTREEITEM, int>> pending;
    auto root = reinterpret_cast<HTREEITEM>(Send(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0));
    std::vector<HTREEITEM> roots;
    for (HTREEITEM i = root; i != nullptr;
         i = reinterpret_cast<HTREEITEM>(Send(tree, TVM_GETNEXTITEM, TVGN_NEXT, Ptr(i))))
        roots.push_back(i);
    for (auto it = roots.rbegin(); it != roots.rend(); ++it)
        pending.emplace_back(*it, 0);
    while (!pending.empty()) {
        auto [item, level] = pending.back();
        pending.pop_back();
        TVITEMA tv = {};
        tv.mask = TVIF_TEXT | TVIF_STATE | TVIF_HANDLE | TVIF_PARAM;
        tv.hItem = item;
        tv.stateMask = TVIS_SELECTED | TVIS_EXPANDED;
        tv.pszText = static_cast<char*>(buffer.At(sizeof(TVITEMA)));
        tv.cchTextMax = kTextSize;
        buffer.Write(0, &tv, sizeof tv);
        if (!Send(tree, TVM_GETITEMA, 0, Ptr(buffer.Address())))
            throw RemoteError("tree item cannot be read");
        buffer.Read(0, &tv, sizeof tv);
        TreeEntry e;
        e.level = level;
        e.text = buffer.ReadText(sizeof(TVITEMA), kTextSize);
        e.selected = (tv.state & TVIS_SELECTED) != 0;
        e.expanded = (tv.state & TVIS_EXPANDED) != 0;
        e.item = item;
        e.data = tv.lParam;
        entries.push_back(e);
        std::vector<HTREEITEM> children;
        for (auto c =
                 reinterpret_cast<HTREEITEM>(Send(tree, TVM_GETNEXTITEM, TVGN_CHILD, Ptr(item)));
             c != nullptr;
             c = reinterpret_cast<HTREEITEM>(Send(tree, TVM_GETNEXTITEM, TVGN_NEXT, Ptr(c))))
            children.push_back(c);
        for (auto it = children.rbegin(); it != children.rend(); ++it)
            pending.emplace_back(*it, level + 1);
    }
    return entries;
}

std::vector<ListColumn> ReadListColumns(HWND list) {
    std::vector<ListColumn> columns;
    RemoteBuffer buffer(list, kItemSize + kTextSize);
    for (int c = 0;; ++c) {
        LVCOLUMNA col = {};
        col.mask = LVCF_TEXT | LVCF_WIDTH;
        col.pszText = static_cast<char*>(buffer.At(kItemSize));
        col.cchTextMax = kTextSize;
        buffer.Write(0, &col, sizeof col);
        if (!Send(list, LVM_GETCOLUMNA, c, Ptr(buffer.Address())))
            return columns;
        buffer.Read(0, &col, sizeof col);
        columns.push_back({buffer.ReadText(kItemSize, kTextSize), col.cx});
    }
}

ListContents ReadList(HWND list) {
    ListContents contents;
    switch (GetWindowLongA(list, GWL_STYLE) & LVS_TYPEMASK) {
    case LVS_ICON:
        contents.view = "icons";
        break;
    case LVS_SMALLICON:
        contents.view = "small icons";
        break;
    case LVS_LIST:
        contents.view = "list";
        break;
    default:
        contents.view = "details";
    }
    contents.columns = ReadListColumns(list);
    RemoteBuffer buffer(list, kItemSize + kTextSize);
    char* remoteText = static_cast<char*>(buffer.At(kItemSize));
    int count = static_cast<int>(Send(list, LVM_GETITEMCOUNT, 0, 0));
    size_t columns = contents.columns.empty() ? 1 : contents.columns.size();
    for (int r = 0; r < count; ++r) {
        ListRow row;
        for (size_t c = 0; c < columns; ++c) {
            LVITEMA item = {};
            item.mask = LVIF_TEXT | (c == 0 ? LVIF_IMAGE | LVIF_STATE : 0);
            item.iItem = r;
            item.iSubItem = static_cast<int>(c);
            item.stateMask = LVIS_FOCUSED | LVIS_SELECTED;
            item.pszText = remoteText;
            item.cchTextMax = kTextSize;
            buffer.Write(0, &item, sizeof item);
            std::string empty(1, '\0');
            buffer.Write(kItemSize, empty.data(), 1);
            if (!Send(list, LVM_GETITEMA, 0, Ptr(buffer.Address())))
                throw RemoteError("list row " + std::to_string(r) + " cannot be read");
            buffer.Read(0, &item, sizeof item);
            // The control may answer with a pointer of its own instead of
            // filling the buffer; both lie in the other process.
            if (item.pszText == remoteText) {
                row.cells.push_back(buffer.ReadText(kItemSize, kTextSize));
            } else if (item.pszText == nullptr || item.pszText == LPSTR_TEXTCALLBACKA) {
                row.cells.emplace_back();
            } else {
                row.cells.push_back("?");
            }
            if (c == 0) {
                row.image = item.iImage;
                row.focused = (item.state & LVIS_FOCUSED) != 0;
                row.selected = (item.state & LVIS_SELECTED) != 0;
            }
        }
        contents.rows.push_back(row);
    }
    return contents;
}

std::vector<StatusPart> ReadStatusParts(HWND statusBar) {
    constexpr int kMaxParts = 64;
    constexpr size_t kTextAt = kMaxParts * sizeof(int);
    RemoteBuffer buffer(statusBar, kTextAt + kTextSize);
    int count = static_cast<int>(Send(statusBar, SB_GETPARTS, kMaxParts, Ptr(buffer.Address())));
    if (count < 0 || count > kMaxParts)
        throw RemoteError("status bar reports " + std::to_string(count) + " parts");
    std::vector<int> edges(count);
    buffer.Read(0, edges.data(), edges.size() * sizeof(int));
    std::vector<StatusPart> parts;
    for (int i = 0; i < count; ++i) {
        size_t length = LOWORD(Send(statusBar, SB_GETTEXTLENGTHA, i, 0));
        if (length >= kTextSize)
            throw RemoteError("status bar text too long");
        Send(statusBar, SB_GETTEXTA, i, Ptr(buffer.At(kTextAt)));
        parts.push_back({edges[i], buffer.ReadText(kTextAt, length + 1)});
    }
    return parts;
}

std::vector<ToolButton> ReadToolbar(HWND toolBar) {
    RemoteBuffer buffer(toolBar, sizeof(TBBUTTON));
    int count = static_cast<int>(Send(toolBar, TB_BUTTONCOUNT, 0, 0));
    std::vector<ToolButton> buttons;
    for (int i = 0; i < count; ++i) {
        TBBUTTON b = {};
        buffer.Write(0, &b, sizeof b);
        if (!Send(toolBar, TB_GETBUTTON, i, Ptr(buffer.Address())))
            throw RemoteError("toolbar button " + std::to_string(i) + " cannot be read");
        buffer.Read(0, &b, sizeof b);
        buttons.push_back({b.idCommand, b.iBitmap, b.fsState, b.fsStyle});
    }
    return buttons;
}

std::string ReadToolTip(HWND toolBar, int command) {
    auto tip = reinterpret_cast<HWND>(Send(toolBar, TB_GETTOOLTIPS, 0, 0));
    if (tip == nullptr)
        return "";
    RemoteBuffer buffer(tip, sizeof(TTTOOLINFOA) + kTextSize);
    TTTOOLINFOA info = {};
    info.cbSize = sizeof info;
    info.hwnd = toolBar;
    info.uId = static_cast<UINT_PTR>(command);
    info.lpszText = static_cast<char*>(buffer.At(sizeof info));
    buffer.Write(0, &info, sizeof info);
    std::string empty(1, '\0');
    buffer.Write(sizeof info, empty.data(), 1);
    Send(tip, TTM_GETTEXTA, kTextSize, Ptr(buffer.Address()));
    return buffer.ReadText(sizeof info, kTextSize);
}

namespace {

RECT ReadRect(HWND control, UINT message, WPARAM wParam, const RECT& in) {
    RemoteBuffer buffer(control, sizeof(RECT));
    buffer.Write(0, &in, sizeof in);
    if (!Send(control, message, wParam, Ptr(buffer.Address())))
        throw RemoteError("item rectangle cannot be read");
    RECT out;
    buffer.Read(0, &out, sizeof out);
    return out;
}

} // namespace

RECT TreeItemRect(HWND tree, HTREEITEM item) {
    // The item's handle goes in where the rectangle comes out.
    RECT in = {};
    static_assert(sizeof(HTREEITEM) <= sizeof(RECT));
    memcpy(&in, &item, sizeof item);
    return ReadRect(tree, TVM_GETITEMRECT, TRUE, in);
}

RECT ListItemRect(HWND list, int index) {
    RECT in = {};
    in.left = LVIR_LABEL;
    return ReadRect(list, LVM_GETITEMRECT, index, in);
}

RECT HeaderItemRect(HWND header, int index) {
    return ReadRect(header, HDM_GETITEMRECT, index, RECT{});
}

RECT TabItemRect(HWND tab, int index) {
    return ReadRect(tab, TCM_GETITEMRECT, index, RECT{});
}

} // namespace e2e
