// The clipboard routines of the library: read-clipboard and write-clipboard
// run the GUI module's clipboard entries, loading the module on first use.
// Without the module or without a display they raise a language error.
#pragma once

namespace kel {

// read-clipboard: a string!, a block of file!, an image!, or none.
void routine_read_clipboard();
// write-clipboard data: true when the clipboard took the value.
void routine_write_clipboard();

} // namespace kel
