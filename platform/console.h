// Messages on standard error. Every operation on files in this project
// prints its own error line through these and returns a flag; pure parsers
// print nothing and hand their error text back with their result instead.
//
// zenpo's errors read "WHAT: REASON"; the companion tools' errors all read
// "TOOL: TEXT", where TEXT starts "FILE: " or "FILE:LINE: " when it is
// about a file. Warnings of every tool read "FILE:LINE: warning: TEXT".
#pragma once

#include <cstdint>
#include <string>

// Prints "WHAT: description of errno" on standard error. Standard output is
// flushed first, so that the two streams keep run order in one file.
void report_error(const char* what);

// Prints "PATH:LINE: warning: TEXT" on standard error; with line 0, "PATH: warning: TEXT".
void report_warning(const char* path, uint64_t line, const std::string& text);

// Prints "TOOL: TEXT" on standard error: the one shape of the companion tools' errors.
void report_tool_error(const char* tool, const std::string& text);

// Prints "TOOL: PATH:LINE: TEXT"; with line 0, "TOOL: PATH: TEXT".
void report_file_error(const char* tool, const char* path, uint64_t line, const std::string& text);

// Prints "TOOL: PATH: cannot WHAT it: description of errno", as "zenpo-dump:
// font.txt: cannot write it: Permission denied"; returns false.
bool report_cannot(const char* tool, const char* path, const char* what);

// Prints "TOOL: WHY" and then the `usage` line on standard error.
void report_usage_error(const char* tool, const std::string& why, const char* usage);

// Prints the `usage` line and the `help` after it on standard output; the
// status of the run: 0, or 1 when they could not be written.
int print_help(const char* usage, const char* help);

// Ends a companion tool's run: as the interrupt that waited meanwhile, when
// one came; else with `status`, or 1 after "TOOL: standard output: cannot
// write it: REASON" when what the run printed did not all go out.
int end_tool_run(const char* tool, int status);
