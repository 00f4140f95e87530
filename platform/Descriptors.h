#pragma once
// Every descriptor of the program is close-on-exec, so that no process it starts (the web engine's network
// and page processes, the shell behind the toolkit's command output) holds its sockets or files: a
// connection the program drops is then closed whole, and a log file is written by the program alone.
//
// Where the program makes the descriptor itself, it is made close-on-exec (SOCK_CLOEXEC, O_CLOEXEC, "e" in
// an fopen mode), so that no other thread's process start can come between. The toolkit makes its TCP
// sockets (connect, listen, accept) without the flag and has no way to ask for it: each of those is marked
// with SetCloseOnExec right after the toolkit call that made it, on the GUI thread. What libraries open
// without the flag (the web engine's random source and its memory monitor's files among them) is marked
// with CloseOnExecAll right before the web engine starts each of its processes.

#include <functional>

#include <wx/string.h>

class wxFile;

namespace bcx {

// Marks a descriptor close-on-exec. False when fd is not an open descriptor (-1 included).
bool SetCloseOnExec(int fd);

// open(2) with O_CLOEXEC added to flags: the descriptor, or -1 with errno set.
int OpenCloseOnExec(const char* path, int flags, int mode = 0);

// Creates (or truncates) the file for writing, close-on-exec, and attaches it to file, as the toolkit's
// wxFile::Create(path, true, access) does otherwise. False (file left closed, errno set) when it cannot.
bool CreateFileCloseOnExec(wxFile& file, const wxString& path, int access);

// Runs make, then marks close-on-exec every descriptor that was opened meanwhile: for a library that makes
// descriptors of its own without the flag and names them to nobody. Run it on the GUI thread, so that no
// process starts between the two.
void CloseOnExecDuring(const std::function<void()>& make);

// Marks close-on-exec every descriptor above 2 that is open now: right before a library starts a process,
// for what the library and its threads opened without the flag. A descriptor another thread opens
// without the flag after this call still reaches a process started after it.
void CloseOnExecAll();

} // namespace bcx
