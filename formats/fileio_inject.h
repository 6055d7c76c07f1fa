// Failure injection for the writers' tests; not used by the program.
#pragma once

namespace io::inject {

// Makes the nth system call from now that writes, syncs or renames
// a file for a writer fail with err (0: none); returns how many such calls
// were still to come when it is reset, so a test knows whether its failure
// was reached.
int failNth(int n, int err);

} // namespace io::inject
