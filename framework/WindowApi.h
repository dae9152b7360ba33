#pragma once
// The window-system operations the framework and the shell call, with the platform's
// names, values and argument order. The framework does not know the toolkit underneath:
// the user-interface layer fills a WindowApi table at start-up and installs it. Until a
// table is installed (and for any entry it leaves empty) each call fails cleanly, giving
// FALSE, 0 or null.
//
// What an installed table must do, because the framework and the shell rely on it:
// - CreateWindowEx sends WM_CREATE to the class's window procedure before it returns,
//   with lParam pointing to a CREATESTRUCTW whose lpCreateParams is the creation
//   parameter given to CreateWindowEx; DestroyWindow sends WM_DESTROY.
// - PostMessage may be called from any thread; the message is handled later on the
//   user-interface thread. PostQuitMessage ends the message loop with the given code.
// - SendMessage calls the window's procedure and returns its result.
// - GetMessage waits for the next posted message or timer (WM_TIMER) of the calling
//   user-interface thread and answers 0 for WM_QUIT; input events of the toolkit reach
//   the window procedures while it waits.
// - Child controls ("BUTTON", "STATIC", "msctls_trackbar32") answer their BM_/TBM_
//   messages and notify their parent with WM_COMMAND and WM_HSCROLL.
// - A window with WS_EX_ACCEPTFILES receives WM_DROPFILES with an HDROP listing the
//   dropped files in drop order; the handler reads it with DragQueryFile and frees it
//   with DragFinish.
// - CreateWindowEx and SetWindowPos/MoveWindow take window sizes for top-level windows:
//   AdjustWindowRectEx gives the window size for a client size (frame, caption and menu
//   bar), so that a window made or moved with its answer has exactly that client area.
// - Menus (LoadMenu of a registered menu resource, SetMenu) post WM_COMMAND with the item
//   id in the low word of wParam when an item is chosen.
// - CreateDialogParam makes a modeless dialog from a registered dialog resource, sends its
//   procedure WM_SETFONT and then WM_INITDIALOG with the given lParam, and shows it when
//   the template has WS_VISIBLE. Dialog procedures answer TRUE for a handled message.
// - "EDIT" controls notify EN_CHANGE (also when their text is set) and EN_KILLFOCUS;
//   "SysListView32" notifies LVN_ITEMCHANGED through WM_NOTIFY.
#include "framework/Rect.h"
#include "framework/WinTypes.h"

using ATOM = uint16_t;
using HGDIOBJ = void*;
using INT_PTR = intptr_t;
using ULONG_PTR = uintptr_t;
using HDROP = struct HDROP__*;
using TIMERPROC = void (*)(HWND window, UINT message, UINT_PTR id, DWORD time);

constexpr WORD LOWORD(uintptr_t v) {
    return static_cast<WORD>(v & 0xFFFF);
}
constexpr WORD HIWORD(uintptr_t v) {
    return static_cast<WORD>((v >> 16) & 0xFFFF);
}
constexpr LONG MAKELONG(WORD low, WORD high) {
    return static_cast<LONG>(static_cast<DWORD>(low) | (static_cast<DWORD>(high) << 16));
}
constexpr WPARAM MAKEWPARAM(WORD low, WORD high) {
    return static_cast<WPARAM>(static_cast<DWORD>(MAKELONG(low, high)));
}
constexpr LPARAM MAKELPARAM(WORD low, WORD high) {
    return static_cast<LPARAM>(static_cast<DWORD>(MAKELONG(low, high)));
}
using WNDPROC = LRESULT (*)(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// A dialog procedure answers TRUE when it handled the message (FALSE lets the dialog's
// default handling run); for WM_INITDIALOG, TRUE gives the focus to the first control.
using DLGPROC = INT_PTR (*)(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Messages.
constexpr UINT WM_NULL = 0x0000;
constexpr UINT WM_CREATE = 0x0001;
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_MOVE = 0x0003;
constexpr UINT WM_SIZE = 0x0005;
constexpr UINT WM_ACTIVATE = 0x0006;
constexpr UINT WM_SETFOCUS = 0x0007;
constexpr UINT WM_KILLFOCUS = 0x0008;
constexpr UINT WM_ENABLE = 0x000A;
constexpr UINT WM_SETTEXT = 0x000C;
constexpr UINT WM_GETTEXT = 0x000D;
constexpr UINT WM_GETTEXTLENGTH = 0x000E;
constexpr UINT WM_PAINT = 0x000F;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_ERASEBKGND = 0x0014;
constexpr UINT WM_SHOWWINDOW = 0x0018;
constexpr UINT WM_GETMINMAXINFO = 0x0024;
constexpr UINT WM_SETFONT = 0x0030;
constexpr UINT WM_GETFONT = 0x0031;
constexpr UINT WM_DRAWITEM = 0x002B;
constexpr UINT WM_GETICON = 0x007F;
constexpr UINT WM_SETICON = 0x0080;
constexpr UINT WM_WINDOWPOSCHANGED = 0x0047;
constexpr UINT WM_NOTIFY = 0x004E;
constexpr UINT WM_NCCREATE = 0x0081;
constexpr UINT WM_NCDESTROY = 0x0082;
constexpr UINT WM_KEYDOWN = 0x0100;
constexpr UINT WM_KEYUP = 0x0101;
constexpr UINT WM_CHAR = 0x0102;
constexpr UINT WM_INITDIALOG = 0x0110;
constexpr UINT WM_COMMAND = 0x0111;
constexpr UINT WM_SYSCOMMAND = 0x0112;
constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_HSCROLL = 0x0114;
constexpr UINT WM_VSCROLL = 0x0115;
constexpr UINT WM_INITMENUPOPUP = 0x0117;
constexpr UINT WM_MOUSEMOVE = 0x0200;
constexpr UINT WM_LBUTTONDOWN = 0x0201;
constexpr UINT WM_LBUTTONUP = 0x0202;
constexpr UINT WM_LBUTTONDBLCLK = 0x0203;
constexpr UINT WM_RBUTTONDOWN = 0x0204;
constexpr UINT WM_RBUTTONUP = 0x0205;
constexpr UINT WM_MOUSEWHEEL = 0x020A;
constexpr UINT WM_SIZING = 0x0214;
constexpr UINT WM_DROPFILES = 0x0233;
constexpr UINT WM_USER = 0x0400;

// WM_SETICON kinds.
constexpr WPARAM ICON_SMALL = 0;
constexpr WPARAM ICON_BIG = 1;

// WM_SIZE kinds.
constexpr WPARAM SIZE_RESTORED = 0;
constexpr WPARAM SIZE_MINIMIZED = 1;
constexpr WPARAM SIZE_MAXIMIZED = 2;

// Buttons.
constexpr DWORD BS_PUSHBUTTON = 0x00000000;
constexpr DWORD BS_DEFPUSHBUTTON = 0x00000001;
constexpr DWORD BS_CHECKBOX = 0x00000002;
constexpr DWORD BS_AUTOCHECKBOX = 0x00000003;
constexpr DWORD BS_GROUPBOX = 0x00000007;
constexpr DWORD BS_TYPEMASK = 0x0000000F;
constexpr DWORD BS_ICON = 0x00000040;
constexpr DWORD BS_BITMAP = 0x00000080;
constexpr WORD BN_CLICKED = 0;
constexpr UINT BM_GETCHECK = 0x00F0;
constexpr UINT BM_SETCHECK = 0x00F1;
constexpr UINT BM_CLICK = 0x00F5;
constexpr UINT BM_GETIMAGE = 0x00F6;
constexpr UINT BM_SETIMAGE = 0x00F7;
constexpr WPARAM IMAGE_BITMAP = 0;
constexpr WPARAM IMAGE_ICON = 1;

// Static text.
constexpr DWORD SS_LEFT = 0x00000000;
constexpr DWORD SS_CENTER = 0x00000001;
constexpr DWORD SS_RIGHT = 0x00000002;
constexpr DWORD SS_ICON = 0x00000003;
constexpr DWORD SS_OWNERDRAW = 0x0000000D;
constexpr DWORD SS_TYPEMASK = 0x0000001F;
constexpr DWORD SS_NOTIFY = 0x00000100;
constexpr DWORD SS_CENTERIMAGE = 0x00000200;
constexpr UINT STM_SETICON = 0x0170;
constexpr UINT STM_GETICON = 0x0171;

// Owner drawing (WM_DRAWITEM: wParam is the control id, lParam a DRAWITEMSTRUCT*).
constexpr UINT ODT_STATIC = 5;
constexpr UINT ODT_BUTTON = 4;
constexpr UINT ODA_DRAWENTIRE = 0x0001;
// DrawIconEx flags.
constexpr UINT DI_MASK = 0x0001;
constexpr UINT DI_IMAGE = 0x0002;
constexpr UINT DI_NORMAL = 0x0003;

// Edit controls.
constexpr DWORD ES_LEFT = 0x0000;
constexpr DWORD ES_CENTER = 0x0001;
constexpr DWORD ES_RIGHT = 0x0002;
constexpr DWORD ES_AUTOHSCROLL = 0x0080;
constexpr DWORD ES_READONLY = 0x0800;
constexpr DWORD ES_NUMBER = 0x2000;
constexpr WORD EN_SETFOCUS = 0x0100;
constexpr WORD EN_KILLFOCUS = 0x0200;
constexpr WORD EN_CHANGE = 0x0300;
constexpr WORD EN_UPDATE = 0x0400;
constexpr UINT EM_GETSEL = 0x00B0;
constexpr UINT EM_SETSEL = 0x00B1;
constexpr UINT EM_SETREADONLY = 0x00CF;
constexpr UINT EM_LIMITTEXT = 0x00C5;
constexpr UINT EM_SETLIMITTEXT = EM_LIMITTEXT;

// Trackbars.
constexpr DWORD TBS_AUTOTICKS = 0x0001;
constexpr DWORD TBS_VERT = 0x0002;
constexpr DWORD TBS_HORZ = 0x0000;
constexpr DWORD TBS_BOTH = 0x0008;
constexpr DWORD TBS_NOTICKS = 0x0010;
constexpr UINT TBM_GETPOS = WM_USER;
constexpr UINT TBM_GETRANGEMIN = WM_USER + 1;
constexpr UINT TBM_GETRANGEMAX = WM_USER + 2;
constexpr UINT TBM_SETPOS = WM_USER + 5;
constexpr UINT TBM_SETRANGE = WM_USER + 6;
constexpr UINT TBM_SETRANGEMIN = WM_USER + 7;
constexpr UINT TBM_SETRANGEMAX = WM_USER + 8;
constexpr UINT TBM_SETPAGESIZE = WM_USER + 21;
constexpr UINT TBM_GETPAGESIZE = WM_USER + 22;
constexpr UINT TBM_SETLINESIZE = WM_USER + 23;
constexpr UINT TBM_GETLINESIZE = WM_USER + 24;
// WM_HSCROLL codes (low word of wParam; the high word carries the position for
// TB_THUMBTRACK and TB_THUMBPOSITION).
constexpr WORD TB_LINEUP = 0;
constexpr WORD TB_LINEDOWN = 1;
constexpr WORD TB_PAGEUP = 2;
constexpr WORD TB_PAGEDOWN = 3;
constexpr WORD TB_THUMBPOSITION = 4;
constexpr WORD TB_THUMBTRACK = 5;
constexpr WORD TB_TOP = 6;
constexpr WORD TB_BOTTOM = 7;
constexpr WORD TB_ENDTRACK = 8;

// Menus.
constexpr UINT MF_BYCOMMAND = 0x00000000;
constexpr UINT MF_BYPOSITION = 0x00000400;
constexpr UINT MF_STRING = 0x00000000;
constexpr UINT MF_ENABLED = 0x00000000;
constexpr UINT MF_GRAYED = 0x00000001;
constexpr UINT MF_DISABLED = 0x00000002;
constexpr UINT MF_UNCHECKED = 0x00000000;
constexpr UINT MF_CHECKED = 0x00000008;
constexpr UINT MF_POPUP = 0x00000010;
constexpr UINT MF_SEPARATOR = 0x00000800;

// Dialog styles.
constexpr DWORD DS_3DLOOK = 0x0004;
constexpr DWORD DS_FIXEDSYS = 0x0008;
constexpr DWORD DS_SETFONT = 0x0040;
constexpr DWORD DS_MODALFRAME = 0x0080;
constexpr DWORD DS_CENTER = 0x0800;
constexpr DWORD DS_SHELLFONT = DS_SETFONT | DS_FIXEDSYS;
// The id of controls nobody addresses.
constexpr int IDC_STATIC = -1;

// List views ("SysListView32").
constexpr DWORD LVS_ICON = 0x0000;
constexpr DWORD LVS_REPORT = 0x0001;
constexpr DWORD LVS_SMALLICON = 0x0002;
constexpr DWORD LVS_LIST = 0x0003;
constexpr DWORD LVS_TYPEMASK = 0x0003;
constexpr DWORD LVS_SINGLESEL = 0x0004;
constexpr DWORD LVS_SHOWSELALWAYS = 0x0008;
constexpr DWORD LVS_NOSORTHEADER = 0x8000;
constexpr DWORD LVS_EX_GRIDLINES = 0x00000001;
constexpr DWORD LVS_EX_FULLROWSELECT = 0x00000020;
constexpr UINT LVM_FIRST = 0x1000;
constexpr UINT LVM_GETITEMCOUNT = LVM_FIRST + 4;
constexpr UINT LVM_DELETEITEM = LVM_FIRST + 8;
constexpr UINT LVM_DELETEALLITEMS = LVM_FIRST + 9;
constexpr UINT LVM_GETNEXTITEM = LVM_FIRST + 12;
constexpr UINT LVM_ENSUREVISIBLE = LVM_FIRST + 19;
constexpr UINT LVM_GETCOLUMNWIDTH = LVM_FIRST + 29;
constexpr UINT LVM_SETCOLUMNWIDTH = LVM_FIRST + 30;
constexpr UINT LVM_SETITEMSTATE = LVM_FIRST + 43;
constexpr UINT LVM_GETITEMSTATE = LVM_FIRST + 44;
constexpr UINT LVM_GETSELECTEDCOUNT = LVM_FIRST + 50;
constexpr UINT LVM_SETEXTENDEDLISTVIEWSTYLE = LVM_FIRST + 54;
constexpr UINT LVM_GETEXTENDEDLISTVIEWSTYLE = LVM_FIRST + 55;
constexpr UINT LVM_GETITEMW = LVM_FIRST + 75;
constexpr UINT LVM_SETITEMW = LVM_FIRST + 76;
constexpr UINT LVM_INSERTITEMW = LVM_FIRST + 77;
constexpr UINT LVM_FINDITEMW = LVM_FIRST + 83;
constexpr UINT LVM_INSERTCOLUMNW = LVM_FIRST + 97;
constexpr UINT LVM_GETITEMTEXTW = LVM_FIRST + 115;
constexpr UINT LVM_SETITEMTEXTW = LVM_FIRST + 116;
constexpr UINT LVIF_TEXT = 0x0001;
constexpr UINT LVIF_IMAGE = 0x0002;
constexpr UINT LVIF_PARAM = 0x0004;
constexpr UINT LVIF_STATE = 0x0008;
constexpr UINT LVIS_FOCUSED = 0x0001;
constexpr UINT LVIS_SELECTED = 0x0002;
constexpr UINT LVNI_ALL = 0x0000;
constexpr UINT LVNI_FOCUSED = 0x0001;
constexpr UINT LVNI_SELECTED = 0x0002;
constexpr UINT LVCF_FMT = 0x0001;
constexpr UINT LVCF_WIDTH = 0x0002;
constexpr UINT LVCF_TEXT = 0x0004;
constexpr UINT LVCF_SUBITEM = 0x0008;
constexpr int LVCFMT_LEFT = 0x0000;
constexpr int LVCFMT_RIGHT = 0x0001;
constexpr int LVCFMT_CENTER = 0x0002;
constexpr UINT LVFI_PARAM = 0x0001;
// Notification codes (WM_NOTIFY, NMHDR::code).
constexpr UINT NM_FIRST = 0u;
constexpr UINT NM_CLICK = NM_FIRST - 2;
constexpr UINT NM_DBLCLK = NM_FIRST - 3;
constexpr UINT LVN_FIRST = 0u - 100u;
constexpr UINT LVN_ITEMCHANGING = LVN_FIRST - 0;
constexpr UINT LVN_ITEMCHANGED = LVN_FIRST - 1;

// Fonts.
constexpr LONG FW_DONTCARE = 0;
constexpr LONG FW_NORMAL = 400;
constexpr LONG FW_BOLD = 700;
constexpr BYTE ANSI_CHARSET = 0;
constexpr BYTE DEFAULT_CHARSET = 1;
constexpr BYTE SHIFTJIS_CHARSET = 128;
constexpr BYTE OUT_DEFAULT_PRECIS = 0;
constexpr BYTE CLIP_DEFAULT_PRECIS = 0;
constexpr BYTE DEFAULT_QUALITY = 0;
constexpr BYTE DEFAULT_PITCH = 0;
constexpr BYTE FF_DONTCARE = 0;
constexpr int LF_FACESIZE = 32;

// System metrics.
constexpr int SM_CXSCREEN = 0;
constexpr int SM_CYSCREEN = 1;
constexpr int SM_CYCAPTION = 4;
constexpr int SM_CXBORDER = 5;
constexpr int SM_CYBORDER = 6;
constexpr int SM_CXDLGFRAME = 7;
constexpr int SM_CYDLGFRAME = 8;
constexpr int SM_CXICON = 11;
constexpr int SM_CYICON = 12;
constexpr int SM_CYMENU = 15;
constexpr int SM_CXFRAME = 32;
constexpr int SM_CYFRAME = 33;
constexpr int SM_CXMINTRACK = 34;
constexpr int SM_CYMINTRACK = 35;
constexpr int SM_CXSMICON = 49;
constexpr int SM_CYSMICON = 50;

// GetWindowLongPtr / SetWindowLongPtr indexes.
constexpr int GWL_STYLE = -16;
constexpr int GWL_EXSTYLE = -20;
constexpr int GWLP_USERDATA = -21;
constexpr int GWLP_ID = -12;

// Message boxes.
constexpr UINT MB_OK = 0x00000000;
constexpr UINT MB_OKCANCEL = 0x00000001;
constexpr UINT MB_YESNO = 0x00000004;
constexpr UINT MB_TYPEMASK = 0x0000000F;
constexpr UINT MB_ICONERROR = 0x00000010;
constexpr UINT MB_ICONQUESTION = 0x00000020;
constexpr UINT MB_ICONWARNING = 0x00000030;
constexpr UINT MB_ICONINFORMATION = 0x00000040;
constexpr UINT MB_ICONMASK = 0x000000F0;
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// The open-file dialog.
constexpr DWORD OFN_HIDEREADONLY = 0x00000004;
constexpr DWORD OFN_PATHMUSTEXIST = 0x00000800;
constexpr DWORD OFN_FILEMUSTEXIST = 0x00001000;

// SetWindowPos flags.
constexpr UINT SWP_NOSIZE = 0x0001;
constexpr UINT SWP_NOMOVE = 0x0002;
constexpr UINT SWP_NOZORDER = 0x0004;
constexpr UINT SWP_NOACTIVATE = 0x0010;
constexpr UINT SWP_SHOWWINDOW = 0x0040;
constexpr UINT SWP_HIDEWINDOW = 0x0080;
constexpr UINT WM_APP = 0x8000;

// Window styles.
constexpr DWORD WS_OVERLAPPED = 0x00000000;
constexpr DWORD WS_POPUP = 0x80000000;
constexpr DWORD WS_CHILD = 0x40000000;
constexpr DWORD WS_MINIMIZE = 0x20000000;
constexpr DWORD WS_VISIBLE = 0x10000000;
constexpr DWORD WS_DISABLED = 0x08000000;
constexpr DWORD WS_CLIPSIBLINGS = 0x04000000;
constexpr DWORD WS_CLIPCHILDREN = 0x02000000;
constexpr DWORD WS_MAXIMIZE = 0x01000000;
constexpr DWORD WS_CAPTION = 0x00C00000;  // WS_BORDER | WS_DLGFRAME
constexpr DWORD WS_BORDER = 0x00800000;
constexpr DWORD WS_DLGFRAME = 0x00400000;
constexpr DWORD WS_VSCROLL = 0x00200000;
constexpr DWORD WS_HSCROLL = 0x00100000;
constexpr DWORD WS_SYSMENU = 0x00080000;
constexpr DWORD WS_THICKFRAME = 0x00040000;
constexpr DWORD WS_GROUP = 0x00020000;
constexpr DWORD WS_TABSTOP = 0x00010000;
constexpr DWORD WS_MINIMIZEBOX = 0x00020000;
constexpr DWORD WS_MAXIMIZEBOX = 0x00010000;
constexpr DWORD WS_OVERLAPPEDWINDOW =
    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
constexpr DWORD WS_POPUPWINDOW = WS_POPUP | WS_BORDER | WS_SYSMENU;

// Extended window styles.
constexpr DWORD WS_EX_DLGMODALFRAME = 0x00000001;
constexpr DWORD WS_EX_NOPARENTNOTIFY = 0x00000004;
constexpr DWORD WS_EX_TOPMOST = 0x00000008;
constexpr DWORD WS_EX_ACCEPTFILES = 0x00000010;
constexpr DWORD WS_EX_TRANSPARENT = 0x00000020;
constexpr DWORD WS_EX_TOOLWINDOW = 0x00000080;
constexpr DWORD WS_EX_WINDOWEDGE = 0x00000100;
constexpr DWORD WS_EX_CLIENTEDGE = 0x00000200;
constexpr DWORD WS_EX_CONTROLPARENT = 0x00010000;
constexpr DWORD WS_EX_STATICEDGE = 0x00020000;
constexpr DWORD WS_EX_APPWINDOW = 0x00040000;
constexpr DWORD WS_EX_OVERLAPPEDWINDOW = WS_EX_WINDOWEDGE | WS_EX_CLIENTEDGE;

// Class styles.
constexpr UINT CS_VREDRAW = 0x0001;
constexpr UINT CS_HREDRAW = 0x0002;
constexpr UINT CS_DBLCLKS = 0x0008;
constexpr UINT CS_OWNDC = 0x0020;
constexpr UINT CS_CLASSDC = 0x0040;
constexpr UINT CS_PARENTDC = 0x0080;
constexpr UINT CS_NOCLOSE = 0x0200;
constexpr UINT CS_SAVEBITS = 0x0800;

constexpr int CW_USEDEFAULT = static_cast<int>(0x80000000u);

// Show commands.
constexpr int SW_HIDE = 0;
constexpr int SW_SHOWNORMAL = 1;
constexpr int SW_NORMAL = 1;
constexpr int SW_SHOWMINIMIZED = 2;
constexpr int SW_SHOWMAXIMIZED = 3;
constexpr int SW_MAXIMIZE = 3;
constexpr int SW_SHOWNOACTIVATE = 4;
constexpr int SW_SHOW = 5;
constexpr int SW_MINIMIZE = 6;
constexpr int SW_SHOWMINNOACTIVE = 7;
constexpr int SW_SHOWNA = 8;
constexpr int SW_RESTORE = 9;
constexpr int SW_SHOWDEFAULT = 10;

// Stock objects.
constexpr int WHITE_BRUSH = 0;
constexpr int LTGRAY_BRUSH = 1;
constexpr int GRAY_BRUSH = 2;
constexpr int DKGRAY_BRUSH = 3;
constexpr int BLACK_BRUSH = 4;
constexpr int NULL_BRUSH = 5;
constexpr int DEFAULT_GUI_FONT = 17;

// System icon and cursor resources (loaded with a null instance).
constexpr UINT IDI_APPLICATION = 32512;
constexpr UINT IDC_ARROW = 32512;

struct WNDCLASSEXW {
    UINT style;
    WNDPROC lpfnWndProc;
    HINSTANCE hInstance;
    HICON hIcon;
    HCURSOR hCursor;
    HBRUSH hbrBackground;
    LPCWSTR lpszMenuName;
    LPCWSTR lpszClassName;
    HICON hIconSm;
};

// What WM_CREATE's lParam points to.
struct CREATESTRUCTW {
    void* lpCreateParams;
    HINSTANCE hInstance;
    HMENU hMenu;
    HWND hwndParent;
    int cy;
    int cx;
    int y;
    int x;
    LONG style;
    LPCWSTR lpszName;
    LPCWSTR lpszClass;
    DWORD dwExStyle;
};

// What WM_GETMINMAXINFO's lParam points to.
struct MINMAXINFO {
    POINT ptReserved;
    POINT ptMaxSize;
    POINT ptMaxPosition;
    POINT ptMinTrackSize;
    POINT ptMaxTrackSize;
};

// A queued message as GetMessage hands it out.
struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
};

// What GetOpenFileName reads and fills. lpstrFilter is pairs of NUL-terminated strings
// (description, patterns separated by ';') ending with an extra NUL; nFilterIndex counts
// from 1. The chosen path is written to lpstrFile (capacity nMaxFile characters).
struct OPENFILENAMEW {
    DWORD lStructSize;
    HWND hwndOwner;
    HINSTANCE hInstance;
    LPCWSTR lpstrFilter;
    DWORD nFilterIndex;
    LPWSTR lpstrFile;
    DWORD nMaxFile;
    LPCWSTR lpstrTitle;
    DWORD Flags;
};

// A font as CreateFontIndirect takes it. lfHeight < 0 is the character height in
// pixels, > 0 the cell height; lfFaceName is the first family tried.
struct LOGFONTW {
    LONG lfHeight;
    LONG lfWidth;
    LONG lfEscapement;
    LONG lfOrientation;
    LONG lfWeight;
    BYTE lfItalic;
    BYTE lfUnderline;
    BYTE lfStrikeOut;
    BYTE lfCharSet;
    BYTE lfOutPrecision;
    BYTE lfClipPrecision;
    BYTE lfQuality;
    BYTE lfPitchAndFamily;
    WCHAR lfFaceName[LF_FACESIZE];
};

// WM_NOTIFY's lParam points to a structure that starts with this.
struct NMHDR {
    HWND hwndFrom;
    UINT_PTR idFrom;
    UINT code;
};

// LVN_ITEMCHANGED / LVN_ITEMCHANGING.
struct NMLISTVIEW {
    NMHDR hdr;
    int iItem;
    int iSubItem;
    UINT uNewState;
    UINT uOldState;
    UINT uChanged;
    POINT ptAction;
    LPARAM lParam;
};

// NM_CLICK / NM_DBLCLK from a list view (iItem is -1 on empty space).
struct NMITEMACTIVATE {
    NMHDR hdr;
    int iItem;
    int iSubItem;
    UINT uNewState;
    UINT uOldState;
    UINT uChanged;
    POINT ptAction;
    LPARAM lParam;
    UINT uKeyFlags;
};

struct LVITEMW {
    UINT mask;
    int iItem;
    int iSubItem;
    UINT state;
    UINT stateMask;
    LPWSTR pszText;
    int cchTextMax;
    int iImage;
    LPARAM lParam;
    int iIndent;
};

struct LVCOLUMNW {
    UINT mask;
    int fmt;
    int cx;
    LPWSTR pszText;
    int cchTextMax;
    int iSubItem;
    int iImage;
    int iOrder;
};

struct LVFINDINFOW {
    UINT flags;
    LPCWSTR psz;
    LPARAM lParam;
    POINT pt;
    UINT vkDirection;
};

// WM_DRAWITEM's lParam. hDC paints into the control until the message returns.
struct DRAWITEMSTRUCT {
    UINT CtlType;
    UINT CtlID;
    UINT itemID;
    UINT itemAction;
    UINT itemState;
    HWND hwndItem;
    HDC hDC;
    RECT rcItem;
    ULONG_PTR itemData;
};

using CreateWindowExFunction = HWND (*)(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x, int y,
                                        int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                                        void* param);

struct WindowApi {
    LRESULT (*DefWindowProc)(HWND window, UINT message, WPARAM wParam, LPARAM lParam) = nullptr;
    BOOL (*PostMessage)(HWND window, UINT message, WPARAM wParam, LPARAM lParam) = nullptr;
    void (*PostQuitMessage)(int exitCode) = nullptr;
    LRESULT (*SendMessage)(HWND window, UINT message, WPARAM wParam, LPARAM lParam) = nullptr;
    ATOM (*RegisterClassEx)(const WNDCLASSEXW* windowClass) = nullptr;
    BOOL (*UnregisterClass)(LPCWSTR className, HINSTANCE instance) = nullptr;
    CreateWindowExFunction CreateWindowEx = nullptr;
    BOOL (*DestroyWindow)(HWND window) = nullptr;
    BOOL (*AdjustWindowRectEx)(RECT* rect, DWORD style, BOOL menu, DWORD exStyle) = nullptr;
    BOOL (*ShowWindow)(HWND window, int showCommand) = nullptr;
    BOOL (*UpdateWindow)(HWND window) = nullptr;
    BOOL (*GetClientRect)(HWND window, RECT* rect) = nullptr;
    HGDIOBJ (*GetStockObject)(int object) = nullptr;
    HICON (*LoadIcon)(HINSTANCE instance, UINT resourceId) = nullptr;
    HCURSOR (*LoadCursor)(HINSTANCE instance, UINT resourceId) = nullptr;

    BOOL (*GetMessage)(MSG* message, HWND window, UINT filterMin, UINT filterMax) = nullptr;
    BOOL (*TranslateMessage)(const MSG* message) = nullptr;
    LRESULT (*DispatchMessage)(const MSG* message) = nullptr;
    BOOL (*IsDialogMessage)(HWND dialog, MSG* message) = nullptr;
    UINT_PTR (*SetTimer)(HWND window, UINT_PTR id, UINT elapseMs, TIMERPROC procedure) = nullptr;
    BOOL (*KillTimer)(HWND window, UINT_PTR id) = nullptr;
    BOOL (*SetWindowText)(HWND window, LPCWSTR text) = nullptr;
    int (*GetWindowText)(HWND window, LPWSTR buffer, int capacity) = nullptr;
    BOOL (*EnableWindow)(HWND window, BOOL enable) = nullptr;
    BOOL (*IsWindowEnabled)(HWND window) = nullptr;
    BOOL (*IsWindow)(HWND window) = nullptr;
    BOOL (*MoveWindow)(HWND window, int x, int y, int width, int height, BOOL repaint) = nullptr;
    BOOL (*SetWindowPos)(HWND window, HWND insertAfter, int x, int y, int width, int height, UINT flags) = nullptr;
    BOOL (*GetWindowRect)(HWND window, RECT* rect) = nullptr;
    HWND (*GetDlgItem)(HWND parent, int id) = nullptr;
    UINT (*DragQueryFile)(HDROP drop, UINT index, LPWSTR buffer, UINT capacity) = nullptr;
    void (*DragFinish)(HDROP drop) = nullptr;
    int (*MessageBox)(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) = nullptr;
    BOOL (*GetOpenFileName)(OPENFILENAMEW* request) = nullptr;

    // Menus (resource ids of the registered menu templates, see WindowResources.h).
    HMENU (*LoadMenu)(HINSTANCE instance, UINT resourceId) = nullptr;
    BOOL (*DestroyMenu)(HMENU menu) = nullptr;
    BOOL (*SetMenu)(HWND window, HMENU menu) = nullptr;
    HMENU (*GetMenu)(HWND window) = nullptr;
    HMENU (*GetSubMenu)(HMENU menu, int position) = nullptr;
    DWORD (*EnableMenuItem)(HMENU menu, UINT item, UINT flags) = nullptr;
    DWORD (*CheckMenuItem)(HMENU menu, UINT item, UINT flags) = nullptr;
    UINT (*GetMenuState)(HMENU menu, UINT item, UINT flags) = nullptr;
    BOOL (*DrawMenuBar)(HWND window) = nullptr;

    // Dialogs (resource ids of the registered dialog templates).
    HWND(*CreateDialogParam)
    (HINSTANCE instance, UINT resourceId, HWND owner, DLGPROC procedure, LPARAM initParam) = nullptr;
    BOOL (*MapDialogRect)(HWND dialog, RECT* rect) = nullptr;

    // Fonts, painting and the rest.
    HFONT (*CreateFontIndirect)(const LOGFONTW* font) = nullptr;
    BOOL (*DeleteObject)(HGDIOBJ object) = nullptr;
    int (*GetSystemMetrics)(int index) = nullptr;
    BOOL (*InvalidateRect)(HWND window, const RECT* rect, BOOL erase) = nullptr;
    BOOL(*DrawIconEx)
    (HDC dc, int x, int y, HICON icon, int width, int height, UINT step, HBRUSH flickerFree, UINT flags) = nullptr;
    HWND (*GetParent)(HWND window) = nullptr;
    HWND (*SetFocus)(HWND window) = nullptr;
    HWND (*GetFocus)() = nullptr;
    BOOL (*IsWindowVisible)(HWND window) = nullptr;
    LONG_PTR (*GetWindowLongPtr)(HWND window, int index) = nullptr;
    LONG_PTR (*SetWindowLongPtr)(HWND window, int index, LONG_PTR value) = nullptr;
};

// Installs a copy of table as the process-wide window system, replacing any earlier one.
// Calls made on other threads while it is replaced see either the old or the new table.
void installWindowApi(const WindowApi& table);
// Back to no window system: every call fails.
void uninstallWindowApi();
// The installed table, or null.
const WindowApi* windowApi();

LRESULT DefWindowProcW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int exitCode);
LRESULT SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
ATOM RegisterClassExW(const WNDCLASSEXW* windowClass);
BOOL UnregisterClassW(LPCWSTR className, HINSTANCE instance);
HWND CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x, int y, int width,
                     int height, HWND parent, HMENU menu, HINSTANCE instance, void* param);
BOOL DestroyWindow(HWND window);
BOOL AdjustWindowRectEx(RECT* rect, DWORD style, BOOL menu, DWORD exStyle);
BOOL ShowWindow(HWND window, int showCommand);
BOOL UpdateWindow(HWND window);
BOOL GetClientRect(HWND window, RECT* rect);
HGDIOBJ GetStockObject(int object);
HICON LoadIconW(HINSTANCE instance, UINT resourceId);
HCURSOR LoadCursorW(HINSTANCE instance, UINT resourceId);
// -1 on failure, 0 for WM_QUIT (its code in wParam), otherwise nonzero.
BOOL GetMessageW(MSG* message, HWND window, UINT filterMin, UINT filterMax);
BOOL TranslateMessage(const MSG* message);
LRESULT DispatchMessageW(const MSG* message);
BOOL IsDialogMessageW(HWND dialog, MSG* message);
UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapseMs, TIMERPROC procedure);
BOOL KillTimer(HWND window, UINT_PTR id);
BOOL SetWindowTextW(HWND window, LPCWSTR text);
int GetWindowTextW(HWND window, LPWSTR buffer, int capacity);
BOOL EnableWindow(HWND window, BOOL enable);
BOOL IsWindowEnabled(HWND window);
BOOL IsWindow(HWND window);
BOOL MoveWindow(HWND window, int x, int y, int width, int height, BOOL repaint);
BOOL SetWindowPos(HWND window, HWND insertAfter, int x, int y, int width, int height, UINT flags);
BOOL GetWindowRect(HWND window, RECT* rect);
HWND GetDlgItem(HWND parent, int id);
UINT DragQueryFileW(HDROP drop, UINT index, LPWSTR buffer, UINT capacity);
void DragFinish(HDROP drop);
// The button chosen (IDOK, IDYES, ...), or 0 when no box could be shown.
int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);
// TRUE with the path in lpstrFile; FALSE when cancelled or when the path does not fit.
BOOL GetOpenFileNameW(OPENFILENAMEW* request);

// Menus. LoadMenu builds a menu (a bar with its pop-ups) from the menu resource registered
// under resourceId; SetMenu puts it on a top-level window (which then owns it; CreateWindowEx
// with a menu handle does the same). Items are addressed MF_BYCOMMAND (by id) or
// MF_BYPOSITION. EnableMenuItem and CheckMenuItem answer the previous state
// (MF_GRAYED/MF_DISABLED or MF_CHECKED bits), or (DWORD)-1 when there is no such item;
// GetMenuState answers the item's flags, or (UINT)-1.
HMENU LoadMenuW(HINSTANCE instance, UINT resourceId);
BOOL DestroyMenu(HMENU menu);
BOOL SetMenu(HWND window, HMENU menu);
HMENU GetMenu(HWND window);
HMENU GetSubMenu(HMENU menu, int position);
DWORD EnableMenuItem(HMENU menu, UINT item, UINT flags);
DWORD CheckMenuItem(HMENU menu, UINT item, UINT flags);
UINT GetMenuState(HMENU menu, UINT item, UINT flags);
BOOL DrawMenuBar(HWND window);

// Dialogs. A modeless dialog from the dialog resource registered under resourceId; it is
// destroyed with DestroyWindow. Its controls are reached by their ids.
HWND CreateDialogParamW(HINSTANCE instance, UINT resourceId, HWND owner, DLGPROC procedure, LPARAM initParam);
// Dialog units to pixels with the dialog font's base units: x * averageWidth / 4,
// y * height / 8.
BOOL MapDialogRect(HWND dialog, RECT* rect);
BOOL SetDlgItemTextW(HWND dialog, int id, LPCWSTR text);
// The text (cut to capacity - 1 and terminated) and its length; 0 when there is no such item.
UINT GetDlgItemTextW(HWND dialog, int id, LPWSTR buffer, int capacity);
BOOL SetDlgItemInt(HWND dialog, int id, UINT value, BOOL isSigned);
// The number in the item's text: leading and trailing blanks are skipped, a minus sign is
// taken only when isSigned; anything else in the text, an empty text or a value out of
// range gives 0 with *translated FALSE.
UINT GetDlgItemInt(HWND dialog, int id, BOOL* translated, BOOL isSigned);
LRESULT SendDlgItemMessageW(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam);

// Fonts: the face is tried first, then the program's Japanese gothic families. Delete with
// DeleteObject once no window uses it.
HFONT CreateFontW(int height, int width, int escapement, int orientation, int weight, DWORD italic, DWORD underline,
                  DWORD strikeOut, DWORD charSet, DWORD outPrecision, DWORD clipPrecision, DWORD quality,
                  DWORD pitchAndFamily, LPCWSTR face);
HFONT CreateFontIndirectW(const LOGFONTW* font);
BOOL DeleteObject(HGDIOBJ object);

int GetSystemMetrics(int index);
BOOL InvalidateRect(HWND window, const RECT* rect, BOOL erase);
// Paints the icon stretched to width x height at (x, y) of the device context handed out
// with WM_DRAWITEM. A width or height of 0 means the icon's own size.
BOOL DrawIconEx(HDC dc, int x, int y, HICON icon, int width, int height, UINT step, HBRUSH flickerFree, UINT flags);
HWND GetParent(HWND window);
// The window that had the focus, or null.
HWND SetFocus(HWND window);
HWND GetFocus();
BOOL IsWindowVisible(HWND window);
LONG_PTR GetWindowLongPtrW(HWND window, int index);
// The previous value.
LONG_PTR SetWindowLongPtrW(HWND window, int index, LONG_PTR value);
