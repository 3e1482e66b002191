// How the render layer tells the user that something failed.
//
// The render code never opens a dialog itself: it hands a caption and a text
// to a reporter. The main window maps it to a message box; tests record it.
#pragma once

#include <functional>
#include <string>

namespace gs {

// caption: "Error" for the image loader's boxes, empty for the plain message
// dialog of the GL set-up (the toolkit then shows the application title).
using ErrorReporter = std::function<void(const std::string& caption, const std::string& text)>;

}  // namespace gs
