// Reading the files the stand-in keeps or is pointed at (hives, store
// files, key files, type libraries, modules) safely: a FIFO, a device or a
// folder in a file's place fails at once instead of blocking or reading
// without end, and no file is read past a size that the caller chooses.
#pragma once

#include <cstddef>
#include <string>

namespace tv {

// Opens a file for reading without blocking; returns the descriptor, or -1
// with errno set (ENOENT when it is missing, EINVAL when it is not a
// regular file). extraFlags adds to O_RDONLY | O_CLOEXEC | O_NONBLOCK.
int openRegularFile(const std::string& path, int extraFlags = 0);

// Reads an open file from its current offset to its end into `bytes`;
// false when that fails or when there is more than maxSize bytes.
bool readUpTo(int fd, size_t maxSize, std::string& bytes);

// Whether the path names a regular file (after symbolic links).
bool isRegularFile(const std::string& path);

}  // namespace tv
