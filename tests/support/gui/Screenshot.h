#pragma once
// Screenshots of windows for inspection: saved as PNG under $BCX_BINARY_DIR/artifacts/.

#include <string>

class wxWindow;

namespace bcxtest {

// Photographs the window's screen area (pumps the loop first so that it is painted). The path of the
// PNG, or empty on failure.
std::string SaveScreenshot(wxWindow* window, const std::string& name);

} // namespace bcxtest
