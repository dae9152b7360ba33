#pragma once
// The program's resources: menus, dialog templates, icons and strings, registered by the
// application at start-up under their resource ids and read by the window system when
// LoadMenu, CreateDialogParam, LoadIcon and LoadString ask for them. Data only: nothing
// here shows anything. Registration may happen on any thread; a later registration under
// the same id replaces the earlier one for whoever loads it afterwards.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "framework/WindowApi.h"

// One entry of a menu: a command item, a separator or a pop-up with its own items.
struct MenuItemTemplate {
    std::u16string text;                  // with &-mnemonics; empty for a separator
    UINT id = 0;                          // the WM_COMMAND id; 0 for pop-ups and separators
    UINT flags = 0;                       // MF_GRAYED, MF_DISABLED, MF_CHECKED, MF_SEPARATOR, MF_POPUP
    std::vector<MenuItemTemplate> items;  // a pop-up's entries
};

// A menu bar: its entries are normally pop-ups.
struct MenuTemplate {
    std::vector<MenuItemTemplate> items;
};

MenuItemTemplate menuItem(std::u16string text, UINT id, UINT flags = 0);
MenuItemTemplate menuSeparator();
MenuItemTemplate menuPopup(std::u16string text, std::vector<MenuItemTemplate> items);

// One control of a dialog, positioned in dialog units.
struct DialogItemTemplate {
    std::u16string className;  // "BUTTON", "EDIT", "STATIC", "SysListView32", "msctls_trackbar32"
    std::u16string text;
    int id = IDC_STATIC;
    int x = 0;
    int y = 0;
    int cx = 0;
    int cy = 0;
    DWORD style = 0;  // WS_CHILD is implied
    DWORD exStyle = 0;
};

// A dialog: its frame, font and controls (in tab order).
struct DialogTemplate {
    std::u16string title;
    DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_SETFONT;
    DWORD exStyle = 0;
    int x = 0;
    int y = 0;
    int cx = 0;  // dialog units
    int cy = 0;
    std::u16string fontName;  // with DS_SETFONT; the program's families fill in
    int pointSize = 9;
    std::vector<DialogItemTemplate> items;
};

// The resource script's control statements, with their default styles (extra bits are
// added to those): every control is WS_CHILD | WS_VISIBLE.
namespace dlg {
// Static text: SS_LEFT / SS_RIGHT / SS_CENTER | WS_GROUP.
DialogItemTemplate ltext(std::u16string text, int id, int x, int y, int cx, int cy, DWORD style = 0);
DialogItemTemplate rtext(std::u16string text, int id, int x, int y, int cx, int cy, DWORD style = 0);
DialogItemTemplate ctext(std::u16string text, int id, int x, int y, int cx, int cy, DWORD style = 0);
// BS_PUSHBUTTON | WS_TABSTOP, BS_DEFPUSHBUTTON | WS_TABSTOP.
DialogItemTemplate pushButton(std::u16string text, int id, int x, int y, int cx, int cy, DWORD style = 0);
DialogItemTemplate defPushButton(std::u16string text, int id, int x, int y, int cx, int cy, DWORD style = 0);
// BS_GROUPBOX.
DialogItemTemplate groupBox(std::u16string text, int id, int x, int y, int cx, int cy, DWORD style = 0);
// "EDIT": ES_LEFT | WS_BORDER | WS_TABSTOP.
DialogItemTemplate editText(int id, int x, int y, int cx, int cy, DWORD style = 0);
// Any class with exactly the given style (plus WS_CHILD | WS_VISIBLE).
DialogItemTemplate control(std::u16string text, int id, std::u16string className, DWORD style, int x, int y, int cx,
                           int cy, DWORD exStyle = 0);
}  // namespace dlg

// Where an icon's picture comes from: a file (PNG or SVG) or the bytes of one.
struct IconResource {
    std::u16string path;
    std::vector<uint8_t> bytes;
};

void registerMenuResource(UINT id, MenuTemplate menu);
void registerDialogResource(UINT id, DialogTemplate dialog);
void registerIconResourceFile(UINT id, std::u16string path);
void registerIconResourceBytes(UINT id, std::vector<uint8_t> bytes);
void registerStringResource(UINT id, std::u16string text);
// Forgets every registered resource (for tests and the end of the program).
void clearWindowResources();

// What is registered under an id, or null.
std::shared_ptr<const MenuTemplate> findMenuResource(UINT id);
std::shared_ptr<const DialogTemplate> findDialogResource(UINT id);
std::shared_ptr<const IconResource> findIconResource(UINT id);
std::shared_ptr<const std::u16string> findStringResource(UINT id);

// Copies the string resource into buffer (cut to capacity - 1 characters, terminated) and
// answers the count copied; 0 when there is no such string or no room. With capacity 0,
// buffer is taken as a const char16_t** that receives a pointer to the stored text (not
// terminated by contract) and the full length is answered.
int LoadStringW(HINSTANCE instance, UINT id, LPWSTR buffer, int capacity);
