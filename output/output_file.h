// The files that zenpo-dump and zenpo-convert write: never the image they
// read, never a file of another kind, and never half written. Each
// operation prints its own error line, "TOOL: PATH: why", and returns a flag.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "files.h"

// What an output holds; an existing file is written over only when it holds
// the same kind, or nothing.
enum class OutputKind { patch_text, png, bdf, psf, hex };

// The kind that an output's name asks for by its extension, in any case:
// .png, .bdf, .psf or .hex; a font patch for any other name, and for "-".
OutputKind output_kind_of(std::string_view path);

// An output being written: standard output, a device written in place, or
// a new file beside its place (`temp`) that becomes `path` once whole.
struct OutputFile {
  FILE* file = nullptr;
  const char* path = "-";
  std::string temp;  // UTF-8; empty when written in place
};

// Opens the output `path` for `kind`: standard output when `path` is "-".
// Refuses to write over `source` (the file being read), over an existing
// file that is not of `kind` or over a read-only one. False after the error
// line "TOOL: PATH: why". Interrupts wait while a new file is open.
bool open_output(const char* tool, const char* path, OutputKind kind, const FileIdentity& source,
                 OutputFile& out);

// Closes `out` and, for a new file, moves it to its place; false after the
// error line, leaving what was at the place as it was, or silently with
// EINTR when an interrupt came (held_interrupt() tells which). Standard
// output is left open, to be checked with the rest of what the run printed.
bool close_output(const char* tool, OutputFile& out);

// Closes `out` and removes what was written of a new file, leaving what was
// at its place as it was. Standard output is left open.
void discard_output(OutputFile& out);

// Writes `data` as `kind` to `path`, as open_output and close_output do.
bool write_output(const char* tool, const char* path, std::string_view data, OutputKind kind,
                  const FileIdentity& source);
