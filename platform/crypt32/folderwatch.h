// Whether a folder's entries changed since a moment, told without a system
// call per file: one inotify instance per process watches every folder asked
// about, and is read (without waiting) on every question. The kernel queues
// an event within the call that makes the change, so a change is seen at
// once. A folder that cannot be watched (no inotify, no watches left, a
// network or user-space file system, watching turned off) is never reported
// unchanged: its caller then checks file by file.
#pragma once

#include <cstdint>
#include <string>

namespace tv {

// A folder's state as of watchFolder(): nonzero while the folder is watched.
using FolderToken = std::uint64_t;

// Starts (or keeps) watching the folder; call it before reading the folder,
// so that every change after the read is caught. Returns 0 when the folder
// cannot be watched.
FolderToken watchFolder(const std::string& folder);

// True when nothing in the folder (created, deleted, renamed, written,
// attributes changed, the folder itself moved or replaced at its path) has
// happened since watchFolder() returned the token.
bool folderUnchangedSince(const std::string& folder, FolderToken token);

// Turns watching on or off for the whole process (on at start).
void setFolderWatching(bool on);

}  // namespace tv
