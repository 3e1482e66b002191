// The program's four forms, created once in this order and kept for the run:
// the main window, the settings dialog, the server list window, the about box.
#pragma once

#include "app/About.h"
#include "app/MainWindow.h"
#include "app/SettingsDialog.h"
#include "relay/ServerWindow.h"

namespace gs {

struct Forms {
    TForm1 form;
    TSettings settings{form.Options(), &form};
    TServerWindow serverWindow{form.Link(), form.Servers()};
    TAbout about;

    Forms() { form.SetForms(&settings, &serverWindow, &about); }
};

}  // namespace gs
