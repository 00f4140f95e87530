#pragma once
// The built-in HTML pages and the style sheet, served by the toolkit's in-memory file system under
// "memory:<name>" (style.css, about.html, browserstart.html, offline.html, unknown.html, addedgame.html,
// addgamefailed.html, defaultad.html).

#include <wx/string.h>

namespace bcx {

// The text of the built-in style sheet.
wxString MemoryStyleSheet();

// Registers a memory file system handler with wxFileSystem and stores the eight pages in it. Called
// once at start-up.
void RegisterMemoryPages();

} // namespace bcx
