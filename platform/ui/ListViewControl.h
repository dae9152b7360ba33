#pragma once
// "SysListView32" in report view: rows of cells under a header, a parameter per row, and
// the selected and focused states the platform keeps per row. Every state change, made by
// the program or by the user, is told to the parent as LVN_ITEMCHANGED with the row's old
// and new state (the row that loses a state first, then the row that gains it).
#include <QTableWidget>
#include <memory>
#include <vector>

#include "platform/ui/UiControls.h"

class ListViewControl : public UiControl {
public:
    ListViewControl(DWORD style, QWidget* parent, const ControlContext& context);
    ~ListViewControl() override;
    ListViewControl(const ListViewControl&) = delete;
    ListViewControl& operator=(const ListViewControl&) = delete;
    QWidget* widget() const override;
    bool handle(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    void setText(const std::u16string&) override {}

private:
    class Table;

    int rowCount() const;
    bool validRow(int row) const { return row >= 0 && row < rowCount(); }
    UINT stateOf(int row) const;
    LPARAM paramOf(int row) const;
    void setCell(int row, int column, const QString& text);
    QString cellText(int row, int column) const;
    void applyState(int row, UINT state, UINT mask);
    LRESULT insertColumn(int index, const LVCOLUMNW& column);
    LRESULT insertItem(const LVITEMW& item);
    bool setItem(const LVITEMW& item);
    bool getItem(LVITEMW& item) const;
    int copyText(const QString& text, LPWSTR buffer, int capacity) const;
    int nextItem(int start, UINT flags) const;
    int findItem(int start, const LVFINDINFOW& find) const;
    void deleteRows(int first, int count);
    // Compares the table's states with the last ones told and tells the differences.
    void syncStates(bool notify);
    void notifyChange(int row, UINT oldState, UINT newState);
    void notifyActivate(UINT code, int row);

    ControlContext context_;
    DWORD style_;
    Table* table_ = nullptr;
    DWORD extendedStyle_ = 0;
    std::vector<int> columnAlignment_;
    std::vector<UINT> states_;  // per row, as last told to the parent
    int quiet_ = 0;             // while positive, state changes are gathered, not told
    bool placeholderColumn_ = true;
    // Points to this object until it is destroyed: the widget and its signal handlers may
    // outlive it by a moment, and a parent may destroy the list while being told.
    std::shared_ptr<ListViewControl*> self_;
};
