// Running the script named on the command line: `kel FILE [args]`.
#pragma once

namespace kel {

// With a script on the command line (runtime_record's argv[1]): loads the
// file as UTF-8, evaluates it with printed values going to standard output,
// and returns 0 when it ran to its end. An error that ends the script (a file
// that cannot be read included) is written to standard error and gives 1.
// Without a script, a one-line notice on standard output and 0.
//
// A script may start with a header, the word Kel and a block; its field
// `prelude: %file` names a script (relative to the script's folder) that
// runs first, in the same global context (the test dialect is pulled in so).
int script_run();

} // namespace kel
