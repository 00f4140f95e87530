#pragma once
// Where the web engine's own code lies in the program: its WebKit and JavaScriptCore libraries. Tells
// whether a caller (a return address, an allocation's frame) is the engine's.

namespace bcx {

// Finds the engine's code once; call it before IsEngineCode is used where nothing may be allocated (an
// allocator's hook). False when the engine's libraries are not in the program.
bool FindEngineCode();

// True when pc lies in the executable code of the engine's libraries. Allocates nothing once
// FindEngineCode has run.
bool IsEngineCode(const void* pc);

} // namespace bcx
