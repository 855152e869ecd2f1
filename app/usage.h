// The banner and the usage text.
#pragma once

// Prints the two banner lines on standard output.
void print_banner();

// Prints the seven usage lines on standard output: lines 2 to 7 are Japanese,
// in UTF-8 where the locale's character set is UTF-8 and in Shift_JIS elsewhere.
void print_usage();
