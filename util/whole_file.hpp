#pragma once
// Files written whole, and never through something planted at a name we create. Every file is
// created new, exclusively (O_CREAT | O_EXCL | O_NOFOLLOW: whatever already stands at the name,
// a symbolic link included, makes the creation fail), and a whole file goes to a temporary of a
// unique name beside its target, is flushed to disk and renamed over the target: a reader finds
// the old file or the whole new one, never a part. A FIFO, a device or a socket at the target
// (links followed there, so that /dev/stdout is one) is written in place instead.
//
// Errors: nothing here throws (but std::bad_alloc). A step that fails returns a FileError: its
// errno and a message naming the step and the file ("cannot write PATH: No space left on
// device"). Files are created with mode 0666 less the umask.
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace nimbus::util {

struct FileError {
    int code = 0;         // the errno of the step that failed; 0: none failed
    std::string message;  // "cannot STEP PATH: REASON"; empty when none failed
    bool failed() const { return code != 0; }
};

// A descriptor opened for writing (-1 on failure, with the error), owned by the caller.
struct OpenedFile {
    int fd = -1;
    std::string path;  // the name opened: the target, or the temporary created beside it
    FileError error;
};

// Asked when a signal interrupts a wait for a FIFO's reader or for room in its pipe: true to go on
// waiting. An empty one (the default) lets every signal end the wait, which fails with EINTR.
using KeepWaiting = std::function<bool()>;

// Whether the path is written in place: something exists there (through links) that is neither a
// regular file nor a folder.
bool writtenInPlace(const std::string& path);

// Creates the file at `path`, which must not exist in any form.
OpenedFile createNew(const std::string& path);

// Creates the file at `path` after removing a regular file an earlier run left there; anything
// else at the name (a link, a FIFO, a folder) makes it fail.
OpenedFile createAnew(const std::string& path);

// Creates a temporary file of a unique name beside `target` (".NAME.XXXXXXXX.tmp").
OpenedFile createTemporaryBeside(const std::string& target);

// Opens an existing FIFO, device or socket for writing in place. Waits for a FIFO's reader; a
// signal meanwhile ends the wait unless keepWaiting says otherwise. Fails with EEXIST, writing
// nothing, when what it opened is a regular file or a folder.
OpenedFile openInPlace(const std::string& path, const KeepWaiting& keepWaiting = {});

// Writes every byte to fd, continuing short writes; `name` is the file's name for the message.
FileError writeAll(int fd, const void* data, std::size_t size, const std::string& name,
                   const KeepWaiting& keepWaiting = {});

// Flushes fd to disk, closes it (in every case) and renames `temp` over `target`. On failure the
// temporary file is left where it is, for the caller to remove or keep.
FileError commit(int fd, const std::string& temp, const std::string& target);

// Renames the file at `path` to `to` (in the same file system), replacing what stands there: a
// file set aside for a look, such as the results of a game that failed.
FileError moveAside(const std::string& path, const std::string& to);

// Writes the text whole to `path` (see above): in place for a FIFO, device or socket, else through
// a temporary file, which is removed when any step fails.
FileError writeWhole(const std::string& path, std::string_view text,
                     const KeepWaiting& keepWaiting = {});

}  // namespace nimbus::util
