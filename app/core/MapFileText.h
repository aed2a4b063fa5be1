#pragma once
// Reading a map file as text: the whole file into memory, the byte-order mark
// and code page into UTF-8, the text into lines and a line into fields.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Map files are small; anything larger than this is refused as a file error
// (EFBIG) rather than read until memory runs out.
inline constexpr std::size_t MAX_MAP_FILE_SIZE = 64u * 1024u * 1024u;

// The bytes of the file. Raises std::system_error (errno, with the file name
// in the message) when it cannot be opened or read, or is larger than
// MAX_MAP_FILE_SIZE.
std::string ReadMapFileBytes(const std::string& fileName);

// The file's text as UTF-8: a UTF-8 byte-order mark is dropped, a UTF-16 LE or
// BE one selects UTF-16, and without one the bytes are Windows-1252. Malformed
// sequences (bad UTF-8, lone surrogates, an odd trailing byte) become U+FFFD,
// so the result is always valid UTF-8.
std::string MapFileTextToUtf8(std::string_view fileBytes);

// Lines ending in CR LF, LF or CR; the break that ends the last line does not
// start another (empty) line. An empty text has no lines.
std::vector<std::string_view> SplitMapLines(std::string_view text);

// Fields between "|" separators, verbatim. An empty line has no fields; the
// empty field after a final "|" is dropped.
std::vector<std::string_view> SplitMapFields(std::string_view line);

// A text from a file as a message quotes it: whole when short, else its first
// 40 bytes (cut between two UTF-8 characters) and its size, so that a line of
// 50 MB never becomes a message of 50 MB. "abc", "12345... (52428800 bytes)".
std::string FileTextExcerpt(std::string_view Text);
// The same in single quotes: "'abc'", "'12345...' (52428800 bytes)".
std::string QuotedFileText(std::string_view Text);
