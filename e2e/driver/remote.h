// Reading the common controls of another process. Their messages carry
// pointers, so the structures and text buffers are placed in the other
// process's memory (VirtualAllocEx), filled and read back there. The
// structures are laid out as this process sees them, so the driver must be
// built for the program's architecture (scripts run both from one build folder).
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

struct ListContents {
    std::string view; // "icons", "small icons", "list" or "details"
    std::vector<std::string> columns;
    std::vector<ListRow> rows;
};

// Every item of a tree view in display order, with its depth (root items 0).
std::vector<TreeEntry> ReadTree(HWND tree);
// Columns (headings) and every row of a list view, all columns of each.
ListContents ReadList(HWND list);
// The texts of a status bar's parts.
std::vector<std::string> ReadStatusParts(HWND statusBar);

// Item rectangles in client coordinates of the control.
RECT TreeItemRect(HWND tree, HTREEITEM item);
RECT ListItemRect(HWND list, int index);
RECT HeaderItemRect(HWND header, int index);
RECT TabItemRect(HWND tab, int index);

} // namespace e2e
