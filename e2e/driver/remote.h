// Reading the common controls of another process. Their messages carry
// pointers, so the structures and text buffers are placed in the other
// process's memory (VirtualAllocEx), filled and read back there. The
// structures are laid out as this process sees them (TBBUTTON and the item
// structures hold pointers), so the driver must be built for the program's
// architecture: both x86_64, or both i686.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

namespace e2e {

class RemoteError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A block of memory in the process that owns a window, freed on destruction.
class RemoteBuffer {
  public:
    RemoteBuffer(HWND owner, size_t size);
    ~RemoteBuffer();
    RemoteBuffer(const RemoteBuffer&) = delete;
    RemoteBuffer& operator=(const RemoteBuffer&) = delete;

    void* Address() const {
        return address_;
    }
    // Address of a byte offset inside the block, as the other process sees it.
    void* At(size_t offset) const {
        return static_cast<char*>(address_) + offset;
    }
    void Write(size_t offset, const void* data, size_t size);
    void Read(size_t offset, void* data, size_t size) const;
    std::string ReadText(size_t offset, size_t maxSize) const;

  private:
    HANDLE process_ = nullptr;
    void* address_ = nullptr;
    size_t size_ = 0;
};

struct TreeEntry {
    int level = 0;
    std::string text;
    bool selected = false;
    bool expanded = false;
    LPARAM data = 0; // the item data the program gave the item
    HTREEITEM item = nullptr;
};

struct ListRow {
    std::vector<std::string> cells;
    int image = -1;
    bool focused = false;
    bool selected = false;
};

struct ListColumn {
    std::string heading;
    int width = 0; // pixels
};

struct ListContents {
    std::string view; // "icons", "small icons", "list" or "details"
    std::vector<ListColumn> columns;
    std::vector<ListRow> rows;
};

struct StatusPart {
    int right = 0; // right edge in client pixels; -1 reaches the bar's edge
    std::string text;
};

struct ToolButton {
    int command = 0;
    int image = 0; // index into the toolbar's image list
    BYTE state = 0;
    BYTE style = 0;
};

// Every item of a tree view in display order, with its depth (root items 0).
std::vector<TreeEntry> ReadTree(HWND tree);
// The columns of a list view: headings and widths.
std::vector<ListColumn> ReadListColumns(HWND list);
// Columns and every row of a list view, all columns of each.
ListContents ReadList(HWND list);
// A status bar's parts, left to right.
std::vector<StatusPart> ReadStatusParts(HWND statusBar);
// A toolbar's buttons and separators, left to right.
std::vector<ToolButton> ReadToolbar(HWND toolBar);
// The text the toolbar's tool tip shows for a button (empty without tool
// tips): the tip control asks the toolbar, and so the toolbar's parent, for
// it as when the mouse rests on the button.
std::string ReadToolTip(HWND toolBar, int command);

// Item rectangles in client coordinates of the control.
RECT TreeItemRect(HWND tree, HTREEITEM item);
RECT ListItemRect(HWND list, int index);
RECT HeaderItemRect(HWND header, int index);
RECT TabItemRect(HWND tab, int index);

} // namespace e2e
