// The file work beneath the settings file: reading a file of settings size,
// following symbolic links, taking turns between writers of one folder, and
// replacing a file atomically.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

namespace platform {

// Closes its descriptor when it goes.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor();
    int get() const { return fd_; }

private:
    int fd_;
};

// The whole content of a regular file of settings size (1 MiB at most), or
// nothing, with errno telling why (EFBIG for a larger one).
std::optional<std::string> ReadSettingsFile(const std::string& path);

// The folder of a path: "." for a bare file name.
std::string DirectoryOf(const std::string& path);

// The file a path names once symbolic links are followed, so that a linked
// settings file is updated where it lives and the link is kept. A dangling
// link gives the path it points to; a loop of links gives nothing.
std::optional<std::string> FollowLinks(std::string path);

// Serialises the read-modify-write of the settings files of one folder between
// processes (an advisory lock on the folder, so no lock file is left behind).
// Waiting for another holder is bounded; after that the write goes on unlocked.
class FolderLock {
public:
    explicit FolderLock(const std::string& dir);

private:
    FileDescriptor fd_;  // closing it releases the lock
};

// Replaces the file's content atomically, with the given mode: the new content
// goes to a temporary file in the same folder, reaches the disk, and is renamed
// over the file, so a crash leaves either the old file or the new one.
bool ReplaceFile(const std::string& path, const std::string& content, mode_t mode);

}  // namespace platform
