#include "framework/WindowResources.h"

#include <algorithm>
#include <map>
#include <mutex>

namespace {

struct Registry {
    std::mutex lock;
    std::map<UINT, std::shared_ptr<const MenuTemplate>> menus;
    std::map<UINT, std::shared_ptr<const DialogTemplate>> dialogs;
    std::map<UINT, std::shared_ptr<const IconResource>> icons;
    // Strings stay for the life of the process once registered: LoadString may have handed
    // out a pointer into one.
    std::map<UINT, std::shared_ptr<const std::u16string>> strings;
    std::vector<std::shared_ptr<const std::u16string>> retiredStrings;
};

Registry& registry() {
    static auto* r = new Registry;
    return *r;
}

template <class T>
void put(std::map<UINT, std::shared_ptr<const T>>& table, UINT id, T value) {
    auto stored = std::make_shared<const T>(std::move(value));
    std::lock_guard lock(registry().lock);
    table[id] = std::move(stored);
}

template <class T>
std::shared_ptr<const T> get(std::map<UINT, std::shared_ptr<const T>>& table, UINT id) {
    std::lock_guard lock(registry().lock);
    auto it = table.find(id);
    return it == table.end() ? nullptr : it->second;
}

DialogItemTemplate item(std::u16string className, std::u16string text, int id, int x, int y, int cx, int cy,
                        DWORD style) {
    DialogItemTemplate t;
    t.className = std::move(className);
    t.text = std::move(text);
    t.id = id;
    t.x = x;
    t.y = y;
    t.cx = cx;
    t.cy = cy;
    t.style = style | WS_CHILD | WS_VISIBLE;
    return t;
}

}  // namespace

MenuItemTemplate menuItem(std::u16string text, UINT id, UINT flags) {
    MenuItemTemplate t;
    t.text = std::move(text);
    t.id = id;
    t.flags = flags & ~(MF_POPUP | MF_SEPARATOR);
    return t;
}

MenuItemTemplate menuSeparator() {
    MenuItemTemplate t;
    t.flags = MF_SEPARATOR;
    return t;
}

MenuItemTemplate menuPopup(std::u16string text, std::vector<MenuItemTemplate> items) {
    MenuItemTemplate t;
    t.text = std::move(text);
    t.flags = MF_POPUP;
    t.items = std::move(items);
    return t;
}

namespace dlg {

DialogItemTemplate ltext(std::u16string text, int id, int x, int y, int cx, int cy, DWORD style) {
    return item(u"STATIC", std::move(text), id, x, y, cx, cy, SS_LEFT | WS_GROUP | style);
}

DialogItemTemplate rtext(std::u16string text, int id, int x, int y, int cx, int cy, DWORD style) {
    return item(u"STATIC", std::move(text), id, x, y, cx, cy, SS_RIGHT | WS_GROUP | style);
}

DialogItemTemplate ctext(std::u16string text, int id, int x, int y, int cx, int cy, DWORD style) {
    return item(u"STATIC", std::move(text), id, x, y, cx, cy, SS_CENTER | WS_GROUP | style);
}

DialogItemTemplate pushButton(std::u16string text, int id, int x, int y, int cx, int cy, DWORD style) {
    return item(u"BUTTON", std::move(text), id, x, y, cx, cy, BS_PUSHBUTTON | WS_TABSTOP | style);
}

DialogItemTemplate defPushButton(std::u16string text, int id, int x, int y, int cx, int cy, DWORD style) {
    return item(u"BUTTON", std::move(text), id, x, y, cx, cy, BS_DEFPUSHBUTTON | WS_TABSTOP | style);
}

DialogItemTemplate groupBox(std::u16string text, int id, int x, int y, int cx, int cy, DWORD style) {
    return item(u"BUTTON", std::move(text), id, x, y, cx, cy, BS_GROUPBOX | style);
}

DialogItemTemplate editText(int id, int x, int y, int cx, int cy, DWORD style) {
    return item(u"EDIT", u"", id, x, y, cx, cy, ES_LEFT | WS_BORDER | WS_TABSTOP | style);
}

DialogItemTemplate control(std::u16string text, int id, std::u16string className, DWORD style, int x, int y, int cx,
                           int cy, DWORD exStyle) {
    DialogItemTemplate t = item(std::move(className), std::move(text), id, x, y, cx, cy, style);
    t.exStyle = exStyle;
    return t;
}

}  // namespace dlg

void registerMenuResource(UINT id, MenuTemplate menu) {
    put(registry().menus, id, std::move(menu));
}

void registerDialogResource(UINT id, DialogTemplate dialog) {
    put(registry().dialogs, id, std::move(dialog));
}

void registerIconResourceFile(UINT id, std::u16string path) {
    put(registry().icons, id, IconResource{std::move(path), {}});
}

void registerIconResourceBytes(UINT id, std::vector<uint8_t> bytes) {
    put(registry().icons, id, IconResource{{}, std::move(bytes)});
}

void registerStringResource(UINT id, std::u16string text) {
    auto stored = std::make_shared<const std::u16string>(std::move(text));
    Registry& r = registry();
    std::lock_guard lock(r.lock);
    auto& slot = r.strings[id];
    if (slot) r.retiredStrings.push_back(std::move(slot));
    slot = std::move(stored);
}

void clearWindowResources() {
    Registry& r = registry();
    std::lock_guard lock(r.lock);
    r.menus.clear();
    r.dialogs.clear();
    r.icons.clear();
    for (auto& [id, text] : r.strings) r.retiredStrings.push_back(std::move(text));
    r.strings.clear();
}

std::shared_ptr<const MenuTemplate> findMenuResource(UINT id) {
    return get(registry().menus, id);
}

std::shared_ptr<const DialogTemplate> findDialogResource(UINT id) {
    return get(registry().dialogs, id);
}

std::shared_ptr<const IconResource> findIconResource(UINT id) {
    return get(registry().icons, id);
}

std::shared_ptr<const std::u16string> findStringResource(UINT id) {
    return get(registry().strings, id);
}

int LoadStringW(HINSTANCE, UINT id, LPWSTR buffer, int capacity) {
    if (!buffer || capacity < 0) return 0;
    auto text = findStringResource(id);
    if (!text) {
        if (capacity > 0) buffer[0] = 0;
        return 0;
    }
    if (capacity == 0) {
        // The stored text lives on (see registerStringResource), so the pointer stays valid.
        *reinterpret_cast<const char16_t**>(buffer) = text->c_str();
        return static_cast<int>(text->size());
    }
    size_t count = std::min<size_t>(text->size(), static_cast<size_t>(capacity - 1));
    std::copy_n(text->data(), count, buffer);
    buffer[count] = 0;
    return static_cast<int>(count);
}
