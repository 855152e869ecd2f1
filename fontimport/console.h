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
