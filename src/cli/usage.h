#pragma once

// The help text, on standard output, with the program name as invoked.
void print_usage(const char* program_name);

// "Brevalo Castora Native <version>", on standard output.
void print_version();
