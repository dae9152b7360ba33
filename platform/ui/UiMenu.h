#pragma once
// A menu made from a menu resource: a tree of items whose states (grey, check) the program
// changes by id or position. Shown on a window it becomes a QMenuBar with QMenus and
// QActions that follow those states; choosing an item reports its id.
#include <QPointer>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/WindowApi.h"
#include "framework/WindowResources.h"

class QAction;
class QMenu;
class QMenuBar;
class QWidget;

class UiMenu {
public:
    explicit UiMenu(const MenuTemplate& menu);
    ~UiMenu();
    UiMenu(const UiMenu&) = delete;
    UiMenu& operator=(const UiMenu&) = delete;

    HMENU handle() { return reinterpret_cast<HMENU>(this); }

    struct Item {
        std::u16string text;
        UINT id = 0;
        UINT flags = 0;
        std::unique_ptr<UiMenu> popup;
        QPointer<QAction> action;
    };

    // The pop-up at a position, or null.
    UiMenu* subMenu(int position);
    // The item an id (searched through the pop-ups too) or a position names, or null.
    Item* find(UINT item, UINT flags);
    // Every menu of the tree, this one first.
    void collect(std::vector<UiMenu*>& out);

    // Previous grey state, or (DWORD)-1. Changes show at once.
    DWORD enable(UINT item, UINT flags);
    // Previous check state, or (DWORD)-1.
    DWORD check(UINT item, UINT flags);
    // The item's flags, or (UINT)-1.
    UINT state(UINT item, UINT flags);

    // Builds the bar for a window; chosen items call choose(id). The bar belongs to parent.
    QMenuBar* buildBar(QWidget* parent, std::function<void(UINT)> choose);
    // Forgets the widgets built (they went with their window).
    void detach();
    bool attached() const { return attached_; }

private:
    UiMenu() = default;
    void fill(const std::vector<MenuItemTemplate>& items);
    void addTo(QMenu* menu, const std::function<void(UINT)>& choose);
    static void apply(Item& item);

    std::vector<Item> items_;
    bool attached_ = false;
};
