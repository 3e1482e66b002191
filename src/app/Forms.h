// The program's four forms, created once in this order and kept for the run:
// the main window, the settings dialog, the server list window, the about box.
#pragma once

#include "app/About.h"
#include "app/MainWindow.h"
#include "app/ServerWindow.h"
#include "app/SettingsDialog.h"

namespace gs {

struct Forms {
    MainWindow form;
    SettingsDialog settings{form.Options(), &form};
    ServerWindow serverWindow{form.Link(), form.Servers()};
    AboutBox about;

    Forms() { form.SetForms(&settings, &serverWindow, &about); }
};

}  // namespace gs
