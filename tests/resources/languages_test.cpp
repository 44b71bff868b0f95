// The resources of every language, read from this executable's own copy of
// the program's resources: the same strings, menus and dialogs under the
// same identifiers, formats kept, and every text fitting its control.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "inventory/inventory.h"
#include "resource.h"
#include "shell/helpabout.h"
#include "shell/strings.h"

namespace {

struct Language {
    LANGID id;
    const char* name;
};

const Language kLanguages[] = {{0x0409, "English"},
                               {0x0407, "German"},
                               {0x040A, "Spanish"},
                               {0x040C, "French"},
                               {0x0410, "Italian"}};
const LANGID kEnglish = 0x0409;

HMODULE Self() {
    return GetModuleHandleA(nullptr);
}

// Resource names as the program uses them.
struct Name {
    const char* text;
    LPCSTR id;
};

const Name kMenus[] = {{"APP_UI_MENU", "APP_UI_MENU"},
                       {"DEVICEPOPUPMENU", "DEVICEPOPUPMENU"},
                       {"HOSTPOPUPMENU", "HOSTPOPUPMENU"}};
const Name kDialogs[] = {{"900", MAKEINTRESOURCEA(IDD_DEVICE_INFO_PAGE)},
                         {"135", MAKEINTRESOURCEA(IDD_DEVICE_FEATURES_PAGE)},
                         {"138", MAKEINTRESOURCEA(IDD_DIAGNOSTIC_TESTS)},
                         {"162", MAKEINTRESOURCEA(IDD_PERFORMANCE_TESTS)},
                         {"164", MAKEINTRESOURCEA(IDD_ADAPTER_INFO)},
                         {"172", MAKEINTRESOURCEA(IDD_SYSTEM_INFO)},
                         {"ABOUTBOX", "ABOUTBOX"}};

const void* Find(LPCSTR type, LPCSTR name, LANGID language) {
    HRSRC found = FindResourceExA(Self(), type, name, language);
    if (found == nullptr)
        return nullptr;
    return LockResource(LoadResource(Self(), found));
}

std::string Ansi(const wchar_t* text, int length) {
    char out[4096];
    int n = WideCharToMultiByte(1252, 0, text, length, out, sizeof out, nullptr, nullptr);
    return std::string(out, n > 0 ? n : 0);
}

BOOL CALLBACK AddBlock(HMODULE, LPCSTR, LPSTR name, LONG_PTR blocks) {
    reinterpret_cast<std::vector<UINT>*>(blocks)->push_back(
        static_cast<UINT>(reinterpret_cast<ULONG_PTR>(name)));
    return TRUE;
}

// Every string of one language's table, read block by block (sixteen
// counted texts per block) as the loader stores them.
std::map<UINT, std::string> StringTable(LANGID language) {
    std::vector<UINT> blocks;
    EnumResourceNamesA(Self(), RT_STRING, AddBlock, reinterpret_cast<LONG_PTR>(&blocks));
    std::map<UINT, std::string> table;
    for (UINT block : blocks) {
        auto* p = static_cast<const WCHAR*>(Find(RT_STRING, MAKEINTRESOURCEA(block), language));
        for (UINT i = 0; p != nullptr && i < 16; i++) {
            if (*p != 0)
                table[(block - 1) * 16 + i] = Ansi(p + 1, *p);
            p += 1 + *p;
        }
    }
    return table;
}

const std::map<UINT, std::string>& Strings(LANGID language) {
    static std::map<LANGID, std::map<UINT, std::string>> tables;
    auto t = tables.find(language);
    if (t == tables.end())
        t = tables.emplace(language, StringTable(language)).first;
    return t->second;
}

// The printf conversions of a text, in order ("%%" is none).
std::vector<std::string> Conversions(const std::string& text) {
    std::vector<std::string> out;
    for (size_t i = 0; i < text.size(); i++) {
        if (text[i] != '%')
            continue;
        size_t end = text.find_first_not_of("-+ #0123456789.hlLIjzt", i + 1);
        if (end == std::string::npos)
            end = text.size() - 1;
        if (text[end] != '%')
            out.push_back(text.substr(i, end - i + 1));
        i = end;
    }
    return out;
}

// The line breaks and tabs of a text, and whether it starts and ends with a
// blank: what joins the pieces of a message and lays out its lines.
std::string Layout(const std::string& text) {
    std::string out;
    if (!text.empty() && text.front() == ' ')
        out += "[blank]";
    for (char c : text)
        if (c == '\n' || c == '\r' || c == '\t')
            out += c == '\n' ? "\\n" : c == '\r' ? "\\r" : "\\t";
    if (!text.empty() && text.back() == ' ')
        out += "[blank]";
    return out;
}

TEST(Languages, EveryStringInEveryLanguageKeepsFormatsAndLineBreaks) {
    const auto& english = Strings(kEnglish);
    EXPECT_EQ(english.size(), 213u);
    for (const Language& l : kLanguages) {
        const auto& table = Strings(l.id);
        EXPECT_EQ(table.size(), english.size()) << l.name;
        for (const auto& [id, text] : english) {
            auto t = table.find(id);
            ASSERT_NE(t, table.end()) << l.name << ": string " << id << " is missing";
            EXPECT_EQ(Conversions(t->second), Conversions(text)) << l.name << " " << id;
            EXPECT_EQ(Layout(t->second), Layout(text)) << l.name << " " << id;
        }
    }
}

// The type texts go into 16-character record fields and listing files,
// where a comma or an apostrophe ends a field; every type decision compares
// them whole, and 50010/50011 stand for 50033/50030.
TEST(Languages, TypeTextsFitTheirFieldsAndListings) {
    const UINT types[] = {IDS_TYPE_HARD_DISK, IDS_TYPE_CDROM,        IDS_TYPE_TAPE,
                          IDS_TYPE_REMOVABLE, IDS_TYPE_HOST_ADAPTER, IDS_TYPE_WORM,
                          IDS_TYPE_SCANNER,   IDS_TYPE_NO_DEVICE,    IDS_TYPE_UNKNOWN,
                          IDS_TYPE_PRINTER,   IDS_TYPE_OPTICAL};
    for (const Language& l : kLanguages) {
        const auto& table = Strings(l.id);
        std::set<std::string> distinct;
        for (UINT id : types) {
            const std::string& text = table.at(id);
            EXPECT_LE(text.size(), 15u) << l.name << " " << id << " " << text;
            EXPECT_EQ(text.find_first_of(",'"), std::string::npos) << l.name << " " << id;
            distinct.insert(text);
        }
        EXPECT_EQ(distinct.size(), std::size(types)) << l.name;
        EXPECT_EQ(table.at(IDS_NO_DEVICE), table.at(IDS_TYPE_NO_DEVICE)) << l.name;
        EXPECT_EQ(table.at(IDS_HOST_ADAPTER), table.at(IDS_TYPE_HOST_ADAPTER)) << l.name;
        // The feature values go into 20-character record fields.
        for (UINT id : {IDS_NOT_AVAILABLE, IDS_ENABLED, IDS_DISABLED})
            EXPECT_LE(table.at(id).size(), 19u) << l.name << " " << id;
    }
}

// The loader picks the thread's language: the texts kept in memory then load
// whole in each language. A language none of the five falls back to
// English, and Spanish in its modern sort order finds the Spanish texts.
TEST(Languages, LoaderPicksTheLanguageAndPreloadsWholeTexts) {
    LCID before = GetThreadLocale();
    for (const Language& l : kLanguages) {
        SetThreadLocale(MAKELCID(l.id, SORT_DEFAULT));
        ASSERT_EQ(PreloadStrings(Self()), 1) << l.name;
        const auto& table = Strings(l.id);
        EXPECT_EQ(TextHardDisk, table.at(IDS_TYPE_HARD_DISK)) << l.name;
        EXPECT_EQ(MessageCaption, table.at(IDS_APP_STATUS_CAPTION)) << l.name;
        // The longest texts, in buffers of 512, and short ones in buffers of 64.
        for (auto [buffer, id] : {std::pair{TextWarning1, IDS_WARNING_1},
                                  {TextWarning2, IDS_WARNING_2},
                                  {TextWarning3, IDS_WARNING_3},
                                  {TextWarning4, IDS_WARNING_4},
                                  {TextWarning5, IDS_WARNING_5},
                                  {TextWarning6, IDS_WARNING_6},
                                  {TextControllerHint, IDS_HINT_CONTROLLER_TESTING},
                                  {TextNoDeviceHint, IDS_HINT_NO_DEVICE_AT_ID},
                                  {TextDiagSuccess, IDS_DIAG_SUCCESS},
                                  {TextContinueQuery, IDS_CONTINUE_QUERY},
                                  {TextDiagComplete, IDS_DIAG_COMPLETE},
                                  {TextLastSenseData, IDS_LAST_SENSE_DATA},
                                  {TextDiagInProgress, IDS_DIAG_IN_PROGRESS},
                                  {TextPropertiesCaption, IDS_PROPERTIES_CAPTION},
                                  {TextSaveAsTitle, IDS_SAVE_AS_TITLE},
                                  {TextRescanQuery, IDS_MSG_RESCAN_QUERY}})
            EXPECT_EQ(buffer, table.at(id)) << l.name << " " << id;
    }
    // Asked for, whose texts are shown, and where the menu found sits.
    const struct {
        LANGID asked, shown, at;
    } fallbacks[] = {
        {0x0C0A, 0x040A, 0x0C0A}, {0x0413, kEnglish, kEnglish}, {0x0411, kEnglish, kEnglish}};
    for (auto f : fallbacks) {
        SetThreadLocale(MAKELCID(f.asked, SORT_DEFAULT));
        char text[64];
        LoadStringA(Self(), IDS_TYPE_HARD_DISK, text, sizeof text);
        EXPECT_EQ(text, Strings(f.shown).at(IDS_TYPE_HARD_DISK)) << std::hex << f.asked;
        EXPECT_EQ(FindResourceA(Self(), "APP_UI_MENU", RT_MENU),
                  FindResourceExA(Self(), RT_MENU, "APP_UI_MENU", f.at))
            << std::hex << f.asked;
    }
    SetThreadLocale(before);
    PreloadStrings(Self());
}

// Commands and hotkeys of one menu, popup by popup.
struct MenuShape {
    std::vector<std::string> lines; // command ids, grey state and popups
    std::vector<std::string> clashes;
    std::string optionsKeys; // the hotkeys the Options menu already has
};

void Walk(HMENU menu, const std::string& path, MenuShape* shape) {
    std::set<char> keys;
    for (int i = 0; i < GetMenuItemCount(menu); i++) {
        char text[256] = "";
        GetMenuStringA(menu, i, text, sizeof text, MF_BYPOSITION);
        UINT state = GetMenuState(menu, i, MF_BYPOSITION);
        char* amp = strchr(text, '&');
        if (amp != nullptr && amp[1] != '\0' && !keys.insert(CharUpperA(amp)[1]).second)
            shape->clashes.push_back(path + "/" + text);
        if (HMENU sub = GetSubMenu(menu, i)) {
            shape->lines.push_back("popup " + std::to_string(i));
            Walk(sub, path + "/" + text, shape);
        } else {
            shape->lines.push_back(std::to_string(GetMenuItemID(menu, i)) +
                                   ((state & MF_GRAYED) ? " grey" : ""));
        }
    }
    // The diagnostic tests item joins the Options menu at start-up.
    if (GetMenuItemID(menu, 1) == IDM_DEVICE_PROPERTIES && GetMenuItemCount(menu) > 2)
        shape->optionsKeys = std::string(keys.begin(), keys.end());
}

TEST(Languages, MenusHoldTheSameCommandsWithUniqueHotkeys) {
    for (const Name& m : kMenus) {
        MenuShape english;
        HMENU menu = LoadMenuIndirectA(Find(RT_MENU, m.id, kEnglish));
        ASSERT_NE(menu, nullptr) << m.text;
        Walk(menu, "", &english);
        DestroyMenu(menu);
        for (const Language& l : kLanguages) {
            const void* found = Find(RT_MENU, m.id, l.id);
            ASSERT_NE(found, nullptr) << l.name << ": menu " << m.text << " is missing";
            MenuShape shape;
            menu = LoadMenuIndirectA(found);
            Walk(menu, m.text, &shape);
            DestroyMenu(menu);
            std::string item = Strings(l.id).at(IDS_MENU_DIAGNOSTIC_TESTS);
            char diagnosticKey[2] = {item[item.find('&') + 1], '\0'};
            CharUpperA(diagnosticKey);
            EXPECT_EQ(shape.optionsKeys.find(diagnosticKey[0]), std::string::npos)
                << l.name << ": the diagnostic tests item's hotkey is taken";
            EXPECT_EQ(shape.lines, english.lines) << l.name << " " << m.text;
            EXPECT_TRUE(shape.clashes.empty()) << l.name << ": " << shape.clashes.front();
        }
    }
}

// The fixed part of a dialog template: style, control count, place and size.
std::vector<int> TemplateHeader(const void* found) {
    auto* t = static_cast<const DLGTEMPLATE*>(found);
    return {static_cast<int>(t->style), t->cdit, t->x, t->y, t->cx, t->cy};
}

INT_PTR CALLBACK Inert(HWND, UINT message, WPARAM, LPARAM) {
    return message == WM_INITDIALOG;
}

// Fields whose template text is always replaced, and the texts the program
// puts there (string ids) where those are known. The others hold device,
// adapter or system data of any length and are not measured: 900's and the
// test dialogs' address and identity fields (1006, 1017-1020), 135's
// numeric values beyond the fixed texts, 162's figures and status lines 2-3,
// 164's values (1021-1029, the group 1025 carries the adapter's
// description) and 172's list (1058).
struct ValueField {
    const char* dialog;
    int first, last; // a range of control ids
    std::vector<UINT> texts;
};

const std::vector<UINT> kTestStates = {IDS_NOT_TESTED, IDS_TESTING, IDS_PASSED, IDS_FAILED};
const ValueField kValueFields[] = {
    {"*", IDC_SCSI_ADDRESS, IDC_SCSI_ADDRESS, {}},
    {"*", IDC_MANUFACTURER, IDC_PRODUCT_NAME, {}},
    {"135", IDC_FIELD_1021, IDC_FIELD_1023, {IDS_NOT_AVAILABLE}},
    {"135", IDC_FIELD_1024, IDC_FIELD_1025, {IDS_NOT_AVAILABLE, IDS_ENABLED, IDS_DISABLED}},
    {"135", IDC_FIELD_1026, IDC_FIELD_1027, {IDS_NOT_AVAILABLE}},
    {"138", IDC_FIELD_1026, IDC_FIELD_1026, kTestStates},
    {"138", IDC_FIELD_1028, IDC_FIELD_1029, kTestStates},
    {"138",
     IDC_DIAG_INFO_LINE1,
     IDC_DIAG_INFO_LINE1,
     {IDS_DIAG_IN_PROGRESS, IDS_DIAG_COMPLETE, IDS_DIAG_SUCCESS, IDS_APP_STATUS_CAPTION}},
    {"138",
     IDC_DIAG_INFO_LINE2,
     IDC_DIAG_INFO_LINE2,
     {IDS_DIAG_CONFIRMATION, IDS_DIAG_NOT_AVAILABLE}},
    {"138", IDOK, IDOK, {IDS_OK, IDS_BEGIN_TESTS}},
    {"162", IDC_RANDOM_1_SECTOR, IDC_SEQUENTIAL_64K, {IDS_NOT_TESTED}},
    {"162",
     IDC_PERF_STATUS_LINE1,
     IDC_PERF_STATUS_LINE1,
     {IDS_TESTING, IDS_PERF_COMPLETE, IDS_PERF_NOT_AVAILABLE}},
    {"162", IDC_PERF_STATUS_LINE2, IDC_PERF_STATUS_LINE3, {}},
    {"162", IDOK, IDOK, {IDS_OK, IDS_BEGIN_TESTS}},
    {"164", IDC_FIELD_1021, IDC_FIELD_1029, {}},
    {"172", IDC_SYSTEM_INFO_TEXT, IDC_SYSTEM_INFO_TEXT, {}},
};

// The texts to measure in one control: its own, or those the program puts
// there; none for a field of unknown content.
std::vector<std::string> TextsOf(const char* dialog, HWND control, LANGID language) {
    int id = GetDlgCtrlID(control);
    for (const ValueField& f : kValueFields) {
        if (id < f.first || id > f.last ||
            (strcmp(f.dialog, "*") != 0 && strcmp(f.dialog, dialog) != 0))
            continue;
        if (strcmp(dialog, "ABOUTBOX") == 0)
            break;
        std::vector<std::string> texts;
        for (UINT s : f.texts)
            texts.push_back(Strings(language).at(s));
        return texts;
    }
    char text[1024] = "";
    GetWindowTextA(control, text, sizeof text);
    return {text};
}

// Whether a text fits a static, check box, push button or group box, drawn
// with the control's own font; the reason when it does not.
std::string Misfit(HWND control, const std::string& text) {
    char className[32];
    GetClassNameA(control, className, sizeof className);
    LONG style = GetWindowLongA(control, GWL_STYLE);
    bool button = lstrcmpiA(className, "Button") == 0;
    if (!button && lstrcmpiA(className, "Static") != 0)
        return "";
    LONG kind = style & (button ? BS_TYPEMASK : SS_TYPEMASK);
    if (!button && kind != SS_LEFT && kind != SS_CENTER && kind != SS_RIGHT)
        return "";
    if (text.empty())
        return "";
    RECT client;
    GetClientRect(control, &client);
    HDC dc = GetDC(control);
    HGDIOBJ old =
        SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0)));
    TEXTMETRICA metrics;
    GetTextMetricsA(dc, &metrics);
    int room = client.right;
    UINT flags = DT_CALCRECT | DT_SINGLELINE;
    if (!button) {
        flags = DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS;
    } else if (kind == BS_GROUPBOX) {
        room -= 2 * metrics.tmAveCharWidth;
    } else if (kind == BS_PUSHBUTTON || kind == BS_DEFPUSHBUTTON) {
        room -= 2 * GetSystemMetrics(SM_CXEDGE) + 2;
    } else {
        // The box, then a gap of half a character.
        room -= 13 + metrics.tmAveCharWidth / 2;
    }
    RECT need = {0, 0, room, 0};
    DrawTextA(dc, text.c_str(), -1, &need, flags);
    SelectObject(dc, old);
    ReleaseDC(control, dc);
    if (need.right <= room && need.bottom <= client.bottom)
        return "";
    return "\"" + text + "\" needs " + std::to_string(need.right) + "x" +
           std::to_string(need.bottom) + ", has " + std::to_string(room) + "x" +
           std::to_string(client.bottom);
}

BOOL CALLBACK AddControl(HWND control, LPARAM controls) {
    reinterpret_cast<std::vector<HWND>*>(controls)->push_back(control);
    return TRUE;
}

// Creates one language's dialog from its own template: the About box with
// its own procedure (it fills its fields from the version record and sets
// their fonts), the others inert, inside a hidden owner.
HWND CreateFromTemplate(const Name& d, LANGID language, HWND owner) {
    const void* found = Find(RT_DIALOG, d.id, language);
    if (found == nullptr)
        return nullptr;
    DLGPROC procedure = strcmp(d.text, "ABOUTBOX") == 0 ? AboutDialog : Inert;
    return CreateDialogIndirectParamA(Self(), static_cast<const DLGTEMPLATE*>(found), owner,
                                      procedure, 0);
}

TEST(Languages, DialogsKeepTheirControlsAndEveryTextFits) {
    AppInstance = Self();
    HWND owner = CreateWindowExA(0, "Static", "", WS_OVERLAPPEDWINDOW, 0, 0, 800, 600, nullptr,
                                 nullptr, Self(), nullptr);
    ASSERT_NE(owner, nullptr);
    int measured = 0;
    for (const Name& d : kDialogs) {
        std::vector<std::string> englishShape;
        std::vector<int> englishHeader = TemplateHeader(Find(RT_DIALOG, d.id, kEnglish));
        for (const Language& l : kLanguages) {
            const void* found = Find(RT_DIALOG, d.id, l.id);
            ASSERT_NE(found, nullptr) << l.name << ": dialog " << d.text << " is missing";
            EXPECT_EQ(TemplateHeader(found), englishHeader) << l.name << " " << d.text;
            HWND dialog = CreateFromTemplate(d, l.id, owner);
            ASSERT_NE(dialog, nullptr) << l.name << " " << d.text;
            std::vector<HWND> controls;
            EnumChildWindows(dialog, AddControl, reinterpret_cast<LPARAM>(&controls));
            std::vector<std::string> shape;
            for (HWND control : controls) {
                char className[32];
                GetClassNameA(control, className, sizeof className);
                shape.push_back(std::to_string(GetDlgCtrlID(control)) + " " + className + " " +
                                std::to_string(GetWindowLongA(control, GWL_STYLE)));
                for (const std::string& text : TextsOf(d.text, control, l.id)) {
                    std::string misfit = Misfit(control, text);
                    measured++;
                    EXPECT_EQ(misfit, "")
                        << l.name << ", dialog " << d.text << ", control " << GetDlgCtrlID(control);
                }
                if (strcmp(d.text, "ABOUTBOX") == 0) {
                    char text[256];
                    GetWindowTextA(control, text, sizeof text);
                    EXPECT_NE(strncmp(text, "Error", 5), 0)
                        << l.name << " " << GetDlgCtrlID(control);
                }
            }
            if (l.id == kEnglish)
                englishShape = shape;
            EXPECT_EQ(shape, englishShape) << l.name << " " << d.text;
            DestroyWindow(dialog);
        }
    }
    EXPECT_GT(measured, 400);
    DestroyWindow(owner);
}

} // namespace
