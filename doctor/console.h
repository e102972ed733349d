// The doctor's console: its report goes to standard output, its usage line
// to standard error, and a person who double-clicked it gets to read it
// before the window closes. Windows side in io_win32.cpp.
#pragma once

#include <string_view>

namespace doctor::console {

// Text as wide characters to a console; to a file or a pipe in the
// console's output code page (866 on a Russian system), or as UTF-8 when
// the program has no console.
void WriteOut(std::u16string_view text);
void WriteError(std::u16string_view text);
// Whether this process is the only one attached to its console window, as
// when it was started by a double-click.
bool AloneOnConsole();
void WaitForEnter();

}  // namespace doctor::console
