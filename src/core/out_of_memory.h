#pragma once

// What must happen before the process ends for want of memory: it may not allocate.
using BeforeOutOfMemoryExit = void (*)() noexcept;

// Makes every failed allocation end the process with "Out of memory.\n" and status 2, through
// the normal exit path so buffered output is flushed, after `before_exit` (when given) has run:
// the programs it started are ended first. No report is sent then.
void install_out_of_memory_handler(BeforeOutOfMemoryExit before_exit = nullptr);
