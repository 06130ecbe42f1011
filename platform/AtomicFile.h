#pragma once
// Whole-file reads, and replacing a file so that it is never seen half written.

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <system_error>

namespace platform {

// The bytes of a file, or none with the reason in `error` (no_such_file_or_directory when
// the file or its folder does not exist).
std::optional<std::string> ReadFileBytes(const std::string& path, std::error_code& error);

// Whether this process may write to an existing file the way an in-place write would: checked
// for the effective user (so the superuser passes, as its open() would), because a rename can
// replace a file that may not be written to and must not be used to get around that.
std::error_code CheckWritable(const std::string& path);

// Replaces the file at `path` with `content`. The bytes go to a temporary file in the same
// folder, are flushed to the disk and then take the file's place in one rename, so that after a
// crash, a full disk or a killed process the file holds either its old or its new content,
// never a part. Refused as an in-place write would be: an existing file this process may not
// write (CheckWritable), a folder it may not write, or a missing folder. An existing file keeps
// its mode (and its owner, where the system allows); a new file gets `newFileMode`. A symbolic
// link is followed: its target is replaced and the link stays. Returns the reason of a failure.
std::error_code ReplaceFileAtomically(const std::string& path, std::string_view content,
                                      mode_t newFileMode);

// Removes what interrupted replacements of `path` left behind: the temporary files
// ".<name>.XXXXXX" beside it that ReplaceFileAtomically makes, when they are plain files (not
// links) owned by this process's user and last changed more than `minimumAge` ago, so that a
// replacement still under way is never touched. For a symbolic link they are looked for
// beside its target, where the replacements write. Returns how many were removed.
int RemoveStaleReplacements(const std::string& path, std::chrono::seconds minimumAge);

// Runs after the temporary file is complete and flushed and before it takes the file's place;
// tests use it to end the process at exactly that point. Empty to remove it.
void SetBeforeReplaceHookForTests(std::function<void(const std::string& tempPath)> hook);

} // namespace platform
