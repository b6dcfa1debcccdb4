// The python3 programs run on the remote machine, one named template each, and the filling of
// their placeholders. Each program is a file of src/ssh/remote, embedded at build time as the
// command `python3 -c "PROGRAM"` (src/ssh/remote_programs.cmake). The only data put into a
// program is Base64 text and a decimal count, so the remote shell hands the double-quoted
// program to python3 unchanged.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace wrenfield::remote_programs {

// Lists one directory as a JSON array: directories first, then by lower-cased name.
extern const std::string_view kList;  // src/ssh/remote/list.py

// Copies the whole file to standard output, unchanged, a buffer at a time: the interpreter never
// holds more than one buffer of it, whatever the file's size. Placeholders: the Base64 path,
// then the most bytes the caller takes (-1: any number).
//
// Only files that end are read: a named pipe, a device or a socket is refused before it is
// opened (opening a pipe waits for a writer; a device may never end). The open does not wait
// either, and the opened file is checked again, in case the name changed meanwhile. A regular
// file is read to its end whatever size it reports, since /proc and /sys files report 0. With
// a bound, a file that reports more bytes is refused before reading, writing its size to
// standard error, and a read that finds more than the bound stops there; both exit with 3.
extern const std::string_view kRead;  // src/ssh/remote/read.py

extern const std::string_view kMkdir;  // src/ssh/remote/mkdir.py

extern const std::string_view kRemove;  // src/ssh/remote/remove.py

extern const std::string_view kRmtree;  // src/ssh/remote/rmtree.py

extern const std::string_view kRename;  // src/ssh/remote/rename.py

// Replaces a file without ever losing its old content or identity. Placeholders: the Base64
// path, then the exact number of bytes that standard input carries.
//
// The path is taken as the kernel takes it for a plain open: a name that such an open refuses
// (empty, ending in "/", through a missing directory or a symbolic link loop) is refused with
// the same error, naming the path as given. A symbolic link at the path is followed, so its
// target is replaced and the link stays. A file that could not be opened for writing is
// refused as it would be by a plain write, although the directory would allow replacing it.
//
// The data is streamed into a new file beside the target: an unnamed one where the system
// offers them (so that nothing is left behind when the program is killed), else a named one
// removed on any failure. The count is checked, then the new file takes the old one's owner,
// group, extended attributes and mode, is flushed to disk, given a name and renamed over the
// target, and the directory is flushed too. When the identity cannot be carried over in full
// or the system refuses the rename (a mount point, a sticky directory), the target is
// rewritten in place from the new file instead; no error ever names the new file.
//
// A file with several hard links, or one that is not a regular file, is rewritten in place so
// that it stays one file; so is a file whose directory refuses new files while the file itself
// is writable. In place, the whole input is taken in and counted before the file is touched,
// and the space the new content needs is reserved before the first old byte is overwritten:
// a full disk fails with the file exactly as it was.
extern const std::string_view kWrite;  // src/ssh/remote/write.py

// Puts each value in place of the next "{}" of the template, in order.
std::string fill_program(std::string_view program, std::initializer_list<std::string_view> values);

}  // namespace wrenfield::remote_programs
