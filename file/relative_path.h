// Relative paths that a patch names (UTF-8, '/' between folders), judged and ordered the same way
// wherever they are read: in a set's directory and in its journal.
#pragma once

#include <cstddef>

// Whether the path may name a file below a folder on any platform: UTF-8, relative, '/' between
// its parts, at most `limit` bytes; no empty, "." or ".." part, no backslash, colon (drives,
// streams), control or reserved character, no part that ends in a dot or a space, and no part
// that is a Windows device name (CON, NUL, COM1, ...).
bool IsSafeRelativePath(const char* path, size_t bytes, size_t limit);
// The path with every letter in one case (those of the Latin, Greek and Cyrillic scripts and the
// full-width forms): two paths that differ only by case fold to the same bytes. Writes at most
// `capacity` bytes; returns their number.
size_t FoldRelativePath(const char* path, size_t bytes, char* out, size_t capacity);
// Orders folded paths: byte by byte, '/' before everything, so that a folder's entries follow its
// own name at once.
int CompareFoldedPaths(const char* a, size_t aBytes, const char* b, size_t bBytes);
