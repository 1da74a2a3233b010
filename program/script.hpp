// Running the script named on the command line, or the console.
#pragma once

namespace kel {

// Installs the standard-output value hook and calls system/console/launch,
// which runs the script named on the command line (its failure ends the
// process with status 1 on standard error) or the terminal console (which
// ends the process through quit). Returns 0 when launch returns: the script
// ran to its end and the console was not asked to stay open.
int script_run();

} // namespace kel
