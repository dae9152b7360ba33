#pragma once
// The program instance: its arguments, its one window class and main window, and the
// dispatcher that the class's window procedure hands messages to.
#include <memory>
#include <optional>
#include <string>

#include "framework/MessageDispatcher.h"
#include "framework/WindowApi.h"

class Module {
public:
    // The previous instance is ignored; the command line is copied (null stays null).
    Module(HINSTANCE instance, HINSTANCE previousInstance, LPCWSTR commandLine, int showCommand);
    // Unregisters the class if it was registered.
    ~Module();
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    // Registers the one window class. Every argument but the name may be left out (null,
    // or no style): the dispatcher's window procedure, CS_VREDRAW | CS_HREDRAW |
    // CS_DBLCLKS, the white stock brush, the system application icon, the arrow cursor.
    // The menu is kept for the main window. False, with nothing changed, when a class is
    // already registered, the name is empty or the window system refuses.
    bool registerClass(LPCWSTR className, WNDPROC procedure, std::optional<UINT> style, HBRUSH background, HICON icon,
                       HCURSOR cursor, HMENU menu);

    // Creates, shows (with the program's show command) and updates the main window, titled
    // with the class name. When width and height are both given they are the client size:
    // the window is made large enough for the frame (and the menu), and a given x or y
    // moves so that the client area stays where it was asked for. False without a
    // registered class, when the main window exists, or when creation fails.
    bool createWindow(DWORD exStyle, DWORD style, int x, int y, int width, int height);

    const std::u16string& className() const { return className_; }
    HINSTANCE instance() const { return instance_; }
    // Null when the program had no command line.
    LPCWSTR commandLine() const { return commandLine_ ? commandLine_->c_str() : nullptr; }
    int showCommand() const { return showCommand_; }
    HWND mainWindow() const { return mainWindow_; }
    HMENU menu() const { return menu_; }
    ATOM classAtom() const { return classAtom_; }
    MessageDispatcher& dispatcher() { return *dispatcher_; }

private:
    std::u16string className_;
    HINSTANCE instance_;
    std::optional<std::u16string> commandLine_;
    int showCommand_;
    HWND mainWindow_ = nullptr;
    HMENU menu_ = nullptr;
    ATOM classAtom_ = 0;
    std::unique_ptr<MessageDispatcher> dispatcher_;
};
