#pragma once
// The file-system checks and changes of the update: its private folder, the package it runs
// and the files it removes.

#include <cstddef>
#include <functional>
#include <string>

namespace platform {

// Makes `path` a folder only we can write to: created with mode 0700 when missing; an existing
// one must be a real folder (not a link) that we own, and is closed to writing by group and
// others when it was open. False when it cannot be made so. A trailing "/" is allowed.
bool MakePrivateFolder(const std::string& path);

// A regular file (a link to one counts).
bool IsRegularFile(const std::string& path);

// Something that is not a folder: a file, a link (not followed, even a dangling one) or any
// other entry. False for a folder and for nothing at all.
bool IsNonFolderEntry(const std::string& path);

// Makes a file a program only its owner may read, write and run (mode 0700).
bool MakeOwnerOnlyProgram(const std::string& path);

// Removes a file (a link itself, never its target). True when it is gone, also when there was
// nothing to remove.
bool RemoveFile(const std::string& path);

// Reads a file from start to end, handing each portion read to `sink`, so that a large file
// is never held whole. False when it cannot be opened or a read fails.
using TFileChunkSink = std::function<void(const unsigned char* data, std::size_t size)>;
bool ReadFileInChunks(const std::string& path, const TFileChunkSink& sink);

} // namespace platform
