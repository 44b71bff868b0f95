// Listing files: the text read into the tables and written back, and the
// File menu's commands in the running program with the real file dialogs.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "inventory/inventory.h"
#include "listing/listing.h"
#include "listings.h"
#include "resource.h"
#include "shell/strings.h"
#include "support/msgrecorder.h"
#include "support/program.h"
#include "support/uiscript.h"
#include "views/devicelist.h"

namespace {

using namespace qvx::test;

// Each listed adapter (description, number, targets, own ID, devices
// counted), then where each slot with a type text sits and whose it is.
std::string Tables() {
    std::string out;
    for (int i = 0; i < AdapterCount; i++) {
        const HostAdapterRecord& a = HostAdapterTable[i];
        out += std::string(a.Description) + " " + std::to_string(a.AdapterNumber) + " " +
               std::to_string(a.MaxTargets) + " " + std::to_string(a.HostScsiId) + " " +
               std::to_string(a.DeviceCount) + ";";
    }
    for (int slot = 0; slot < MAX_DEVICE_SLOTS; slot++)
        if (DeviceTable[slot].TypeText[0] != '\0')
            out += " " + std::to_string(slot) + ":" + std::to_string(DeviceTable[slot].TargetId) +
                   "/" + std::to_string(DeviceTable[slot].AdapterNumber);
    return out;
}

std::string Saved() {
    std::string text(ListingBuffer, GetDataBufferAndSize());
    ReleaseListingBuffer();
    return text;
}

// Listings, the tables read from them, and what is written from those.
const struct {
    std::string listing, tables, saved; // saved: empty for the listing itself
} kTextCases[] = {
    {// a narrow and a wide adapter; CR LF; no line feed at the end
     "2\r\nNARROW\r\nWIDE W\r\n4\r\n3,CD-ROM,V,P,R,WIDE W,2\r\n7,Host "
     "Adapter,M,NARROW,1.0,"
     "NARROW,0\r\n0,Hard Disk,V ,P,R,NARROW,2\r\n8,No Device,,,,WIDE W,0",
     "NARROW 0 8 7 1;WIDE W 1 16 0 1; 0:0/0 7:7/0 19:3/1 24:8/1",
     "2\nNARROW\nWIDE W\n4\n0,Hard Disk,V ,P,R,NARROW,2\n7,Host "
     "Adapter,M,NARROW,1.0,NARROW,0\n"
     "3,CD-ROM,V,P,R,WIDE W,2\n8,No Device,,,,WIDE W,0\n"},
    {// no slot of their own: a high id, an unlisted adapter, a taken slot, a
     // short line; two adapter rows; a line past the count
     "1\nA\n7\n20,Tape,V,P,R,A,2\n3,Tape,V,P,R,GONE,2\n3,Hard Disk,V,P,R,A,1\n"
     "3,Hard Disk,DUP,P,R,A,1\n5,No Device\n9,Host Adapter,M,A,1,A,0\n6,Host "
     "Adapter,M,A,1,A,0\n"
     "1,Tape,,,,A,0\n",
     "A 0 16 9 3; 3:3/0 6:6/0 9:9/0 16:20/8 17:3/8 18:3/8 19:5/8",
     "1\nA\n7\n3,Hard Disk,V,P,R,A,1\n6,Host Adapter,M,A,1,A,0\n9,Host "
     "Adapter,M,A,1,A,0\n"
     "20,Tape,V,P,R,A,2\n3,Tape,V,P,R,GONE,2\n3,Hard Disk,DUP,P,R,A,1\n5,No "
     "Device,,,,,0\n"},
    {// long fields and numbers, an apostrophe, signs and junk, equal adapters
     "2\nSAME\nSAME\n4\n+1x,A Very Long Type Text,VENDORLONG12,O'Brien "
     "Product,REV,SAME, \t3 junk\n"
     "-1,Hard Disk,V,P,R,SAME\n000000000012,Tape\n16,CD-ROM,,,,SAME\n",
     "SAME 0 16 0 3;SAME 1 8 0 0; 1:1/0 32:255/8 33:1/8 34:16/8",
     "2\nSAME\nSAME\n4\n1,A Very Long Typ,VENDORLON,O,REV,SAME,3\n255,Hard "
     "Disk,V,P,R,SAME,0\n"
     "1,Tape,,,,,0\n16,CD-ROM,,,,SAME,0\n"},
    {// the fifth adapter has no slots: its device goes to the first free one
     "5\nA\nB\nC\nD\nE\n1\n1,Tape,,,,E,0\n",
     "A 0 8 0 0;B 1 8 0 0;C 2 8 0 0;D 3 8 0 0;E 4 8 0 1; 0:1/8", ""},
    {// another language's type texts: empty targets and the adapter count
     ForeignListing(), "HBA 0 8 0 3; 0:0/0 6:6/0 7:7/0", ""},
};

TEST(ListingText, ReadsIntoTheTablesAndWritesThemBack) {
    PreloadStrings(GetModuleHandleA(nullptr));
    HostAdapterTable[0].HostScsiId = 99; // not carried: cleared
    for (const auto& c : kTextCases) {
        EXPECT_EQ(ReadListingTables(c.listing.data(), c.listing.size()), LISTING_READ);
        EXPECT_EQ(Tables(), c.tables);
        EXPECT_EQ(Saved(), c.saved.empty() ? c.listing : c.saved);
    }
    // A character that would end a field when read back is written as a blank.
    CopyText(HostAdapterTable[0].Identifier, 16, "A,B'C");
    CopyText(DeviceTable[0].AdapterIdentifier, 16, "A,B'C");
    CopyText(DeviceTable[0].Vendor, 10, "X,Y\nZ\r");
    EXPECT_NE(Saved().find("\nA B C\n3\n0,Festplatte,X Y Z ,P,R,A B C,2\n"), std::string::npos);
    // A count is read from the first 259 characters of its token.
    std::string zeros(258, '0');
    EXPECT_EQ(ReadListingTables((zeros + "1\nA\n0\n").c_str(), 264), LISTING_BAD_DEVICE_COUNT);
    EXPECT_EQ(Saved(), "1\nA\n0\n");
    EXPECT_EQ(ReadListingTables((zeros + "01\n").c_str(), 261), LISTING_BAD_ADAPTER_COUNT);
    EXPECT_EQ(Saved(), "0\n0\n");
}

// A listing keeps the type texts of the language it was written in. Read
// in that language, its empty target and adapter rows are not counted and
// every row gets its picture; read in another, the texts match none of the
// running language's, so every row counts and none gets a picture.
TEST(ListingText, KeepsTheTypeTextsOfTheLanguageItWasWrittenIn) {
    const struct {
        LANGID written, read;
        LONG counted;
        bool pictures;
    } cases[] = {{0x0407, 0x0407, 1, true}, {0x0407, 0x0409, 3, false}, {0x0409, 0x040C, 3, false},
                 {0x040A, 0x040A, 1, true}, {0x0410, 0x040A, 3, false}, {0x040C, 0x040C, 1, true}};
    LCID before = GetThreadLocale();
    for (const auto& c : cases) {
        SetThreadLocale(MAKELCID(c.written, SORT_DEFAULT));
        ASSERT_EQ(PreloadStrings(GetModuleHandleA(nullptr)), 1);
        std::string listing = "1\nHBA\n3\n0," + std::string(TextHardDisk) + ",V,P,R,HBA,2\n6," +
                              TextTypeNoDevice + ",,,,HBA,0\n7," + TextHostAdapter +
                              ",M,HBA,1.0,HBA,0\n";
        ASSERT_EQ(ReadListingTables(listing.data(), listing.size()), LISTING_READ);
        std::string written = Saved();
        SetThreadLocale(MAKELCID(c.read, SORT_DEFAULT));
        ASSERT_EQ(PreloadStrings(GetModuleHandleA(nullptr)), 1);
        ASSERT_EQ(ReadListingTables(written.data(), written.size()), LISTING_READ);
        EXPECT_EQ(Saved(), written) << std::hex << c.written << " read as " << c.read;
        EXPECT_EQ(HostAdapterTable[0].DeviceCount, c.counted) << std::hex << c.read;
        for (int slot : {0, 6, 7}) {
            DeviceTable[slot].ImageIndex = -1;
            SetDeviceImage(&DeviceTable[slot]); // as opening the file does
            EXPECT_EQ(DeviceTable[slot].ImageIndex != -1, c.pictures)
                << std::hex << c.written << " read as " << c.read << ", slot " << slot;
        }
    }
    SetThreadLocale(before);
    PreloadStrings(GetModuleHandleA(nullptr));
}

// The test's own folder, made by the fixture.
const std::string kFolder =
    (std::filesystem::temp_directory_path() / "qvx-listing").string() + "\\";

std::string ReadBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
}

size_t FolderFiles() {
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(kFolder), {}));
}

// Expects a File menu command's dialog and answers it with `name` in the
// test folder, or cancels it when `name` is empty.
void FileDialog(UiScript& ui, int command, const std::string& name) {
    bool open = command == IDM_FILE_OPEN;
    std::string path = name.empty() ? "" : kFolder + name;
    ui.expect(Dialog().caption(open ? "Open a File" : "Save File As"))
        .then([path, open](HWND box, const WindowRecord& shown) {
            EXPECT_EQ(shown.control(1136)->text, "Text Files (*.TXT)") << "the first filter";
            EXPECT_EQ(shown.hasButton(1038), open) << "a Help button for Open only";
            EXPECT_EQ(GetWindow(box, GW_OWNER), MainWindow);
            for (int id : {1148, 1152}) // the name box: combo (explorer style) or edit
                SetDlgItemTextA(box, id, path.c_str());
        })
        .press(path.empty() ? IDCANCEL : IDOK);
}

// The rows the list shows for each adapter once it is selected.
std::string Rows() {
    std::string rows;
    for (size_t a = 0; a < TreeAdapterLabels().size(); a++) {
        SelectAdapter(static_cast<int>(a));
        for (int row = 0; row < ListView_GetItemCount(ListView); row++)
            for (int column = 0; column < 5; column++) {
                char text[64] = "";
                ListView_GetItemText(ListView, row, column, text, sizeof text);
                rows += std::string(text) + (column < 4 ? "|" : "\n");
            }
        rows += "\n";
    }
    return rows;
}

class ListingFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        SelectMachine(QVX_DEFAULT_MACHINE);
        std::filesystem::create_directories(kFolder);
    }
    InstalledHelpPath help_;
};

TEST_F(ListingFiles, AScanSavedAndOpenedListsTheSameRowsAndIsSavedAgainUnchanged) {
    RunProgram([] {
        std::string scanned = Rows();
        {
            UiScript saveAs;
            FileDialog(saveAs, IDM_FILE_SAVE_AS, "scan"); // the extension is added
            Command(IDM_FILE_SAVE_AS);
        }
        EXPECT_EQ(WindowText(MainWindow), "Quorvex Diagnostics - [scan.txt]");
        std::string scan = ReadBytes(kFolder + "scan.txt");
        std::set<HBITMAP> pictures;
        for (const DeviceRecord& d : DeviceTable)
            pictures.insert(d.TypeBitmap);
        UiScript open;
        FileDialog(open, IDM_FILE_OPEN, "scan.txt");
        Command(IDM_FILE_OPEN);
        open.verify();
        for (const DeviceRecord& d : DeviceTable)
            pictures.erase(d.TypeBitmap);
        for (HBITMAP old : pictures) // each picture of before is released or in use
            EXPECT_EQ(GetObjectType(old), 0u);
        // The adapters, named by their identifiers, are in view, none selected.
        EXPECT_EQ(TreeAdapterLabels(), (std::vector<std::string>{"KESTRAIL", "LQ450"}));
        EXPECT_TRUE(TreeView_GetItemState(TreeView, TreeView_GetRoot(TreeView), TVIS_EXPANDED));
        EXPECT_EQ(TreeView_GetSelection(TreeView), nullptr);
        EXPECT_EQ(ListView_GetItemCount(ListView), 0);
        EXPECT_EQ(Rows(), scanned);
        std::ofstream(kFolder + "scan.txt") << "old";
        size_t files = FolderFiles();
        Command(IDM_FILE_SAVE); // back over the file it came from
        EXPECT_EQ(ReadBytes(kFolder + "scan.txt"), scan);
        EXPECT_EQ(FolderFiles(), files) << "nothing is left beside it";
    });
}

TEST_F(ListingFiles, EachFailureShowsItsMessageAndARejectedCountAsksToRescan) {
    const char* adapters = "File Error:  The number of SCSI Host Adapters must be between 1 and 8";
    const char* devices = "File Error:  The number of SCSI devices must be between 1 and 64";
    const char* create = "File Error:  Could not create the file";
    enum { kFree, kReadOnly, k4GB, kLocked, kShared }; // kShared: held sharing all but removal
    const struct {
        int command;
        const char* content; // of the chosen file
        int file;            // how the file is held
        const char* message;
        bool mainWindowOwns;
        UINT treeItems; // after the re-scan question; 0: no question
    } cases[] = {
        {IDM_FILE_OPEN, "", kFree, "File Error:  The file is empty, zero bytes read.", false, 0},
        {IDM_FILE_OPEN, "1\n", kLocked, "Program Error:  File open failed.", true, 0},
        {IDM_FILE_OPEN, "", k4GB, "Program Error:  Could not allocate global memory !", false, 0},
        {IDM_FILE_OPEN, "0\nA\n1\n", kFree, adapters, false, 1},
        {IDM_FILE_OPEN, "9\n", kFree, adapters, false, 1},
        {IDM_FILE_OPEN, "1\nA\n65\n", kFree, devices, false, 2},
        {IDM_FILE_OPEN, "2\nA\nB\nword\n", kFree, devices, false, 3},
        {IDM_FILE_SAVE_AS, "old", kReadOnly, create, false, 0},
        {IDM_FILE_SAVE_AS, "old", kShared, create, false, 0},
    };
    RunProgram([&] {
        const std::string path = kFolder + "failure.txt";
        for (const auto& c : cases) {
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            std::ofstream(path, std::ios::binary) << c.content;
            if (c.file == kReadOnly)
                SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
            if (c.file == k4GB) // a sparse file: no room is taken
                std::filesystem::resize_file(path, 0x100000000ull);
            DWORD share = c.file == kShared ? FILE_SHARE_READ | FILE_SHARE_WRITE : 0;
            HANDLE held = CreateFileA(c.file >= kLocked ? path.c_str() : "", GENERIC_READ, share,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
            UiScript ui;
            FileDialog(ui, c.command, "failure.txt");
            ui.expect(MsgBox().caption("Quorvex Diagnostics status:").text(c.message))
                .then([&c](HWND box, const WindowRecord&) {
                    EXPECT_EQ(GetWindow(box, GW_OWNER), c.mainWindowOwns ? MainWindow : nullptr);
                })
                .press(IDOK);
            if (c.treeItems > 0)
                ui.expect(MsgBox().text("Re-scan the SCSI bus ?")).press(IDCANCEL);
            Command(c.command);
            PumpPending(); // the re-scan a rejected count posts
            ui.verify();
            CloseHandle(held);
            std::filesystem::resize_file(path, strlen(c.content));
            EXPECT_EQ(TreeView_GetCount(TreeView), c.treeItems > 0 ? c.treeItems : 3) << c.content;
            EXPECT_EQ(ReadBytes(path), c.content) << "the file is kept as it was";
            EXPECT_EQ(WindowText(MainWindow), "Quorvex Diagnostics") << "nothing opened or saved";
        }
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    });
}

TEST_F(ListingFiles, OpenRefusesANameThatDoesNotExistInItsDialog) {
    RunProgram([] {
        std::filesystem::remove(kFolder + "absent.txt");
        UiScript ui;
        FileDialog(ui, IDM_FILE_OPEN, "absent.txt");
        // The dialog tells the user and stays. The cancel is queued behind
        // the message's OK so that the dialog gets it once its own check is
        // over: delivered inside the message's loop, it would end the dialog
        // under that check.
        ui.expect(MsgBox()).then([](HWND box, const WindowRecord&) {
            char caption[64] = "";
            HWND dialog = GetWindow(box, GW_OWNER);
            GetWindowTextA(dialog, caption, sizeof caption);
            EXPECT_STREQ(caption, "Open a File");
            PostMessageA(box, WM_COMMAND, IDOK, 0);
            PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        });
        Command(IDM_FILE_OPEN);
        ui.verify();
        EXPECT_EQ(WindowText(MainWindow), "Quorvex Diagnostics");
        EXPECT_EQ(TreeView_GetCount(TreeView), 3u) << "the scan stays";
    });
}

TEST(ListingDialogErrors, ShowTheirTextsWithTheDefaultCaption) {
    // Strings 20-46 in this order; any other code 48, "Unknown error."; 0 none.
    const DWORD codes[] = {0xFFFF, 1,      2,      3,      4,      5,      6,      7,
                           8,      9,      10,     11,     0x1001, 0x1002, 0x1003, 0x1004,
                           0x1005, 0x1006, 0x1007, 0x1008, 0x1009, 0x100A, 0x100B, 0x2001,
                           0x3001, 0x3002, 0x3003, 12,     0x3004, 0};
    HWND owner = CreateWindowA("STATIC", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    for (UINT i = 0; i < std::size(codes); i++) {
        char text[260] = "";
        UINT id = i < 27 ? 20 + i : codes[i] != 0 ? 48 : 0;
        LoadStringA(GetModuleHandleA(nullptr), id, text, sizeof text);
        UiScript ui;
        if (id != 0)
            ui.expect(MsgBox().caption("Error").text(text))
                .then([&](HWND box, const WindowRecord& shown) {
                    EXPECT_EQ(shown.text + (GetWindow(box, GW_OWNER) == owner ? "" : " unowned"),
                              text);
                })
                .press(IDOK);
        ReportCommonDialogError(codes[i], owner);
    }
    DestroyWindow(owner);
}

} // namespace
