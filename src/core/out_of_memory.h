#pragma once

// Makes every failed allocation end the process with "Out of memory.\n" and status 2, through
// the normal exit path so buffered output is flushed. No report is sent then.
void install_out_of_memory_handler();
