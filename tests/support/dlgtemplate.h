// DialogTemplate: builds an in-memory dialog template (DLGTEMPLATE and its
// items) for DialogBoxIndirectParamA, so tests can run real modal dialogs
// without resource scripts:
//
//     qvx::test::DialogTemplate t("Settings", 160, 80);
//     t.Edit(101, 10, 10, 100, 14).CheckBox(102, "Wide", 10, 30, 80, 12)
//      .Button(IDOK, "OK", 10, 55, 50, 14, BS_DEFPUSHBUTTON)
//      .Button(IDCANCEL, "Cancel", 70, 55, 50, 14);
//     INT_PTR r = DialogBoxIndirectParamA(GetModuleHandleA(nullptr), t.get(), owner, proc, 0);
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace qvx::test {

class DialogTemplate {
  public:
    DialogTemplate(const std::string& caption, short cx, short cy,
                   DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT) {
        Dword(style);
        Dword(0);            // extended style
        words_.push_back(0); // item count, patched as items are added
        for (short v : {short(0), short(0), cx, cy})
            words_.push_back(static_cast<WORD>(v));
        words_.push_back(0); // no menu
        words_.push_back(0); // standard dialog class
        Text(caption);
        if (style & DS_SETFONT) {
            words_.push_back(8);
            Text("MS Shell Dlg");
        }
    }

    // One control: a predefined class atom (0x80 button, 0x81 edit, 0x82
    // static, 0x83 list box, 0x84 scroll bar, 0x85 combo box).
    DialogTemplate& Item(WORD atom, int id, const std::string& text, DWORD style, short x, short y,
                         short cx, short cy) {
        if (words_.size() % 2)
            words_.push_back(0); // items start on a DWORD boundary
        Dword(style | WS_CHILD | WS_VISIBLE);
        Dword(0);
        for (short v : {x, y, cx, cy})
            words_.push_back(static_cast<WORD>(v));
        words_.push_back(static_cast<WORD>(id));
        words_.push_back(0xFFFF);
        words_.push_back(atom);
        Text(text);
        words_.push_back(0); // no creation data
        ++words_[4];
        return *this;
    }
    DialogTemplate& Button(int id, const std::string& text, short x, short y, short cx, short cy,
                           DWORD style = BS_PUSHBUTTON) {
        return Item(0x80, id, text, style | WS_TABSTOP, x, y, cx, cy);
    }
    DialogTemplate& CheckBox(int id, const std::string& text, short x, short y, short cx,
                             short cy) {
        return Item(0x80, id, text, BS_AUTOCHECKBOX | WS_TABSTOP, x, y, cx, cy);
    }
    DialogTemplate& Edit(int id, short x, short y, short cx, short cy) {
        return Item(0x81, id, "", ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, x, y, cx, cy);
    }
    DialogTemplate& Label(int id, const std::string& text, short x, short y, short cx, short cy) {
        return Item(0x82, id, text, SS_LEFT, x, y, cx, cy);
    }

    LPCDLGTEMPLATEA get() const {
        return reinterpret_cast<LPCDLGTEMPLATEA>(words_.data());
    }

  private:
    void Dword(DWORD v) {
        words_.push_back(LOWORD(v));
        words_.push_back(HIWORD(v));
    }
    void Text(const std::string& s) {
        for (unsigned char c : s)
            words_.push_back(c);
        words_.push_back(0);
    }
    std::vector<WORD> words_;
};

} // namespace qvx::test
