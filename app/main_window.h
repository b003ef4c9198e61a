#pragma once
// The main window's menu and the About window, built directly with GTK 4 and WebKitGTK.
#include <gtk/gtk.h>

#include <string>

namespace plinthos {

// Ends the process with exit code 0, killing any engine still running first.
[[noreturn]] void quitNow();

// Gives the main window a header bar (for the menu button), keeping its title and visibility,
// drawn dark like the pages.
void prepareMainWindow(GtkWindow* mainWindow);

// A hidden 600 by 500 window over the main one showing the bundle's Credits.html (blank when
// missing). Closing it, or Escape, only hides it; it lives as long as the process.
GtkWindow* buildAboutWindow(const std::string& exePath, GtkWindow* mainWindow);

// The menu button in the main window's title bar with "About Plinthos" and "Quit Plinthos",
// and their shortcuts Ctrl+I and Ctrl+Q, which work in the About window too.
void buildMenu(GtkWindow* mainWindow, GtkWindow* aboutWindow);

}  // namespace plinthos
