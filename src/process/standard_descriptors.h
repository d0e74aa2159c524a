#pragma once

// Started with standard input, output or error closed (by a launcher, or `<&-`), this program
// would hand those numbers to the next files it opens: a config file read as standard input, a
// recording or a pipe written to as if it were the terminal. Each closed one is opened on
// /dev/null first.
void reopen_closed_standard_descriptors() noexcept;
