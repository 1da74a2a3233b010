// What the file, folder and font dialogs are asked for and what they answer,
// in plain terms: arguments of request-file and request-dir checked and
// unpacked before any window opens, and the chosen paths made into file!
// values. The backend owns the dialogs themselves.
#pragma once
#include "runtime/cell.hpp"
#include <string>
#include <vector>

namespace kel {

// One line of a file dialog's type menu: its label and its patterns, several
// patterns separated by ";".
struct FileFilter {
    std::string label;
    std::string pattern;
};

struct FileDialogRequest {
    std::string title;   // empty when title is not a string
    bool has_title = false;
    std::string folder;  // initial folder as OS text ("" when none)
    std::string name;    // proposed file name as OS text ("" when none)
    std::vector<FileFilter> filters;
};

// Unpacks the arguments. A filter block holds strings or files, alternately
// labels and patterns (a last label without a pattern is dropped); any other
// value in it raises script error invalid-arg with the value. A filter that
// is not a block gives the default list. A name (file! or string!) is split
// at its last "/" into the initial folder and the proposed name.
FileDialogRequest file_dialog_request_of(const Cell* title, const Cell* name, const Cell* filter);

// The initial folder of the folder dialog: dir as a path when it is a file!
// or string!, else "".
std::string folder_dialog_start_of(const Cell* dir);

// A new file! of the UTF-8 path, pushed on the data stack.
Cell* file_push_path(const std::string& path);
// The answer of the file dialog, written into out (on the stack or rooted):
// none for no choice; the one file; with multi, a block of the files.
void file_dialog_answer(const std::vector<std::string>& paths, bool multi, Cell* out);
// The answer of the folder dialog: none for no choice, else the folder as a
// file! that ends with "/".
void folder_dialog_answer(const std::string* path, Cell* out);
// The answer of the font dialog: a block [name size style] where style is
// the word bold, the word italic, the block [bold italic] or none.
void font_dialog_answer(const std::string& name, int32_t size, bool bold, bool italic, Cell* out);

} // namespace kel
