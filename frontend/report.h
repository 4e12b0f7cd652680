#pragma once
// Message tables of the commands: each turns a result code (errno) into the
// line the user sees, on the stream it is given (stderr in the program, a
// memory stream in tests). Codes without a line of their own are printed as a
// number in an "unknown error" line.

#include <cstdint>
#include <cstdio>

namespace skarvel {

// A picture could not be decoded out of rendition block `block` (dump).
void Report_ImageExtractFailure(FILE* err, uint32_t block, int code);
// A picture could not be written to `path` (dump, dump_res, decompile).
void Report_ImageWriteFailure(FILE* err, const char* path, int code);
// The replacement picture of -replace_img could not be read from `path`.
void Report_ImageReadFailure(FILE* err, const char* path, int code);
// A whole-file write (Buffer_WriteToFile) of raw data to `path` failed.
void Report_RawWriteFailure(FILE* err, const char* path, int code);
// A file name built for block `block` does not fit the pathname buffer; the
// file is skipped.
void Report_NameTooLong(FILE* err, uint32_t block);

}  // namespace skarvel
