#include "platform/ui/UiMenu.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>

namespace {

QString toQString(const std::u16string& text) {
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

constexpr UINT kGrey = MF_GRAYED | MF_DISABLED;

}  // namespace

UiMenu::UiMenu(const MenuTemplate& menu) {
    fill(menu.items);
}

UiMenu::~UiMenu() = default;

void UiMenu::fill(const std::vector<MenuItemTemplate>& items) {
    for (const MenuItemTemplate& t : items) {
        Item item;
        item.text = t.text;
        item.id = t.id;
        item.flags = t.flags;
        if (t.flags & MF_POPUP) {
            item.popup.reset(new UiMenu());
            item.popup->fill(t.items);
        }
        items_.push_back(std::move(item));
    }
}

UiMenu* UiMenu::subMenu(int position) {
    if (position < 0 || position >= static_cast<int>(items_.size())) return nullptr;
    return items_[static_cast<size_t>(position)].popup.get();
}

UiMenu::Item* UiMenu::find(UINT item, UINT flags) {
    if (flags & MF_BYPOSITION) return item < items_.size() ? &items_[item] : nullptr;
    for (Item& i : items_) {
        if (!(i.flags & (MF_POPUP | MF_SEPARATOR)) && i.id == item) return &i;
        if (i.popup)
            if (Item* found = i.popup->find(item, flags)) return found;
    }
    return nullptr;
}

void UiMenu::collect(std::vector<UiMenu*>& out) {
    out.push_back(this);
    for (Item& i : items_)
        if (i.popup) i.popup->collect(out);
}

void UiMenu::apply(Item& item) {
    if (!item.action) return;
    item.action->setEnabled(!(item.flags & kGrey));
    if (item.flags & (MF_POPUP | MF_SEPARATOR)) return;
    // Only a ticked item shows a check box: the platform's menus show nothing otherwise.
    bool checked = (item.flags & MF_CHECKED) != 0;
    item.action->setCheckable(checked);
    item.action->setChecked(checked);
}

DWORD UiMenu::enable(UINT item, UINT flags) {
    Item* i = find(item, flags);
    if (!i) return static_cast<DWORD>(-1);
    DWORD previous = i->flags & kGrey;
    i->flags = (i->flags & ~kGrey) | (flags & kGrey);
    apply(*i);
    return previous;
}

DWORD UiMenu::check(UINT item, UINT flags) {
    Item* i = find(item, flags);
    if (!i) return static_cast<DWORD>(-1);
    DWORD previous = i->flags & MF_CHECKED;
    i->flags = (i->flags & ~MF_CHECKED) | (flags & MF_CHECKED);
    apply(*i);
    return previous;
}

UINT UiMenu::state(UINT item, UINT flags) {
    Item* i = find(item, flags);
    return i ? (i->flags & (kGrey | MF_CHECKED | MF_POPUP | MF_SEPARATOR)) : static_cast<UINT>(-1);
}

void UiMenu::addTo(QMenu* menu, const std::function<void(UINT)>& choose) {
    for (Item& i : items_) {
        if (i.flags & MF_SEPARATOR) {
            i.action = menu->addSeparator();
        } else if (i.popup) {
            QMenu* sub = menu->addMenu(toQString(i.text));
            i.action = sub->menuAction();
            i.popup->addTo(sub, choose);
        } else {
            QAction* action = menu->addAction(toQString(i.text));
            i.action = action;
            UINT id = i.id;
            // The check mark is the program's to change: a click does not toggle it.
            QObject::connect(action, &QAction::triggered, action, [this, action, id, choose] {
                if (Item* item = find(id, MF_BYCOMMAND); item && item->action == action) apply(*item);
                choose(id);
            });
        }
        apply(i);
    }
}

QMenuBar* UiMenu::buildBar(QWidget* parent, std::function<void(UINT)> choose) {
    auto* bar = new QMenuBar(parent);
    bar->setNativeMenuBar(false);
    for (Item& i : items_) {
        if (i.flags & MF_SEPARATOR) continue;
        if (i.popup) {
            QMenu* menu = bar->addMenu(toQString(i.text));
            i.action = menu->menuAction();
            i.popup->addTo(menu, choose);
        } else {
            QAction* action = bar->addAction(toQString(i.text));
            i.action = action;
            UINT id = i.id;
            QObject::connect(action, &QAction::triggered, action, [id, choose] { choose(id); });
        }
        apply(i);
    }
    attached_ = true;
    return bar;
}

void UiMenu::detach() {
    std::vector<UiMenu*> all;
    collect(all);
    for (UiMenu* m : all)
        for (Item& i : m->items_) i.action = nullptr;
    attached_ = false;
}
