// Binary stream utilities: fatal reports, checked stream access, number
// parsing, padding and indentation.
//
// The rule of this unit: every operation whose name begins with get_ or put_
// (and dump, read_long, put_padding) either succeeds completely or reports
// one diagnostic on standard error and ends the process with status 1.  None
// of them returns an error, so callers never check their results.  The one
// exception is print_spaces, which hands back its output result unchecked.
//
// Streams are buffered std::FILE* opened in binary mode.  Offsets are signed
// 32-bit absolute positions from the start of a stream; the _seek forms
// position the stream there first (with fseek, or in its cache), so no caller
// relies on where a stream was left by an earlier call.
#pragma once

#include "input_window.hpp"

#include <array>
#include <cstdint>
#include <cstdio>

// ---- Reading a dump at scattered offsets ------------------------------------
// The converter reads the dumps a few bytes at a time, at offsets in any
// order.  A stream given a cache is read through it: the cache holds a
// window of the file's bytes, a read it holds is a copy from memory, and a
// miss is one read of the file at that offset, of as much as the policy of
// input_window.hpp says.  Every other stream is read through stdio.  What a
// read returns, and every report it ends the run with, is the same either way.
struct input_cache {
    std::FILE* stream = nullptr;  // the stream it serves
    input_cache* next = nullptr;  // the cache given to another stream before
    std::int64_t position = 0;    // where the stream reads next
    std::int64_t wanted_end = 0;  // how far the reads since the last seek will go
    input_window held;            // what `block` holds
    std::array<std::uint8_t, std::size_t{128} * 1024> block{};
};

// From now on, reads of `stream` (open for binary reading, and read by this
// unit alone from here) go through `cache`, which must outlive the stream;
// except where its file cannot be read at any offset (a pipe), which stays
// a stdio stream.
void use_input_cache(std::FILE* stream, input_cache& cache);

// ---- Fatal reports -------------------------------------------------------
// Every report starts "file:line:function:".  `file` is the base name of the
// source file holding the check, `line` its fixed location number.  A report
// or context line first writes out what standard output holds, so that a log
// of both shows each progress line before the report that follows it.

// "file:line:function: text" -- a failure of content.
[[noreturn]] void fatal_message(const char* file, int line, const char* function, const char* text);
// "file:line:function:text: " then the system's description of errno.
[[noreturn]] void fatal_errno(const char* file, int line, const char* function, const char* text);
// A short read or write: "file:line:function:op: " then "unexpected EOF" when
// the stream is at its end, else "op: " and the system's description.
[[noreturn]] void fatal_stream(const char* file, int line, const char* function, const char* op,
                               std::FILE* stream);

// A line before a report that says where its problem lies (an offset, a
// name), formatted as printf does.
[[gnu::format(printf, 1, 2)]] void print_context(const char* format, ...);

// ---- In-memory byte-order codecs -----------------------------------------
std::uint16_t read_16_be(const std::uint8_t* bytes);
std::uint16_t read_16_le(const std::uint8_t* bytes);
std::uint32_t read_32_be(const std::uint8_t* bytes);
std::uint32_t read_32_le(const std::uint8_t* bytes);
std::uint64_t read_64_be(const std::uint8_t* bytes);
void write_16_be(std::uint32_t value, std::uint8_t* bytes);
void write_32_be(std::uint32_t value, std::uint8_t* bytes);
void write_32_le(std::uint32_t value, std::uint8_t* bytes);

// ---- Checked reads: get_X(stream), get_X_seek(offset, stream) ------------
// 16-bit reads are zero-extended; 32-bit reads return the bit pattern, which
// callers treat as signed or unsigned as they need.
std::uint8_t get_byte(std::FILE* stream);
std::uint8_t get_byte_seek(std::int32_t offset, std::FILE* stream);
std::uint16_t get_16_be(std::FILE* stream);
std::uint16_t get_16_be_seek(std::int32_t offset, std::FILE* stream);
std::uint16_t get_16_le(std::FILE* stream);
std::uint16_t get_16_le_seek(std::int32_t offset, std::FILE* stream);
std::int32_t get_32_be(std::FILE* stream);
std::int32_t get_32_be_seek(std::int32_t offset, std::FILE* stream);
std::int32_t get_32_le(std::FILE* stream);
std::int32_t get_32_le_seek(std::int32_t offset, std::FILE* stream);
std::uint64_t get_64_be(std::FILE* stream);
std::uint64_t get_64_be_seek(std::int32_t offset, std::FILE* stream);
// Reads exactly `length` (>= 0) bytes into `buffer`; returns `length`.
std::int32_t get_bytes(std::FILE* stream, void* buffer, std::int32_t length);
std::int32_t get_bytes_seek(std::int32_t offset, std::FILE* stream, void* buffer,
                            std::int32_t length);

// ---- Checked writes: put_X(value, stream), put_X_seek(value, offset, stream)
// They return the number of bytes written.  put_byte writes the low 8 bits of
// `value`, put_16_be the low 16.
std::int32_t put_byte(std::int32_t value, std::FILE* stream);
std::int32_t put_byte_seek(std::int32_t value, std::int32_t offset, std::FILE* stream);
std::int32_t put_16_be(std::int32_t value, std::FILE* stream);
std::int32_t put_16_be_seek(std::int32_t value, std::int32_t offset, std::FILE* stream);
std::int32_t put_32_be(std::int32_t value, std::FILE* stream);
std::int32_t put_32_be_seek(std::int32_t value, std::int32_t offset, std::FILE* stream);
std::int32_t put_32_le(std::int32_t value, std::FILE* stream);
std::int32_t put_32_le_seek(std::int32_t value, std::int32_t offset, std::FILE* stream);
// Writes exactly `length` (>= 0) bytes from `buffer`; returns `length`.
std::int32_t put_bytes(std::FILE* stream, const void* buffer, std::int32_t length);
std::int32_t put_bytes_seek(std::int32_t offset, std::FILE* stream, const void* buffer,
                            std::int32_t length);

// Copies `length` bytes of `in`, from `offset`, to the current position of
// `out`, in pieces of at most 2048 bytes.
void dump(std::FILE* in, std::FILE* out, std::int32_t offset, std::uint32_t length);

// ---- Numbers, padding, indentation ---------------------------------------
// Parses the whole text as a signed 32-bit number: 0x/0X hexadecimal, a
// leading 0 octal, otherwise decimal.
std::int32_t read_long(const char* text);
// Writes zero bytes from `offset` up to the next multiple of `alignment`
// (which must be positive); returns that multiple.
std::int32_t put_padding(std::int32_t offset, std::int32_t alignment, std::FILE* stream);
// Prints `count` blanks (the magnitude, for a negative count).  Returns what
// the formatted output returned, unchecked.
int print_spaces(std::FILE* stream, int count);
