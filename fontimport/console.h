// Error and warning lines on standard error.
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

// Prints "TOOL: WHY" and then the `usage` line on standard error.
void report_usage_error(const char* tool, const std::string& why, const char* usage);

// Prints the `usage` line and the `help` after it on standard output; the
// status of the run: 0, or 1 when they could not be written.
int print_help(const char* usage, const char* help);
