#pragma once
// The program's resource script: the main menu, the about dialog, the strings and the
// icons, registered with the window system before the main window is made.
#include <string>

#include "framework/WinTypes.h"

// Registers every resource of the program, the list editor's dialog included.
void registerPlayerResources();

// String resource id, or empty when there is none.
std::u16string loadResourceString(HINSTANCE instance, UINT id);
