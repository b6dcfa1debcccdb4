// The python3 programs run on the remote machine, one named template each, and the filling of
// their placeholders. Each program is a file of src/ssh/remote, embedded at build time as the
// command `python3 -c "PROGRAM"` (src/ssh/remote_programs.cmake). The only data put into a
// program is Base64 text and a decimal count, so the remote shell hands the double-quoted
// program to python3 unchanged. A path's Base64 holds its bytes, which need not be UTF-8; each
// program takes them with os.fsdecode, which Python's file functions turn back into the same
// bytes whatever the remote locale.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace wrenfield::remote_programs {

// Lists one directory as a JSON array: directories first, then by lower-cased name. Names and
// paths are written as UTF-8 whatever the remote locale, each byte that is not UTF-8 as the
// escape \udcXX (Python's surrogateescape), which the listing's reader takes back as that byte.
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
// The kernel copies a file that reports a size straight to standard output (sendfile), up to
// the bound; the rest, and files the kernel cannot copy so, go through one buffer.
extern const std::string_view kRead;  // src/ssh/remote/read.py

// Makes a directory and any missing parents. Placeholders: the Base64 path, then True to refuse
// a directory that exists already ("[Errno 17] File exists"); with False it counts as made. An
// entry of another kind under the name is refused either way.
extern const std::string_view kMkdir;  // src/ssh/remote/mkdir.py

// Removes one file or link or, with True as the second placeholder, a directory with all it
// holds (never through a symbolic link). Placeholders: the Base64 path, then True or False. The
// entry the path names is taken: trailing slashes are dropped before it is looked at (so
// "link/" is the link), and a name ending in "." or ".." is refused ("[Errno 22] Invalid
// argument"), since it names no entry of its own. A directory at or under which another file
// system is mounted (found in the mount table, and by device numbers while walking without
// following links) is not touched at all: the refusal ("[Errno 16] Not deleted: ...") names
// the mount.
extern const std::string_view kDelete;  // src/ssh/remote/delete.py

// Renames. Placeholders: the Base64 source and destination, then True to refuse an existing
// destination rather than replace it. The refusal is the file system's own, made as it renames:
// renameat2 with RENAME_NOREPLACE where offered; else a file is linked under the new name (a
// link never replaces) and its old name removed; else, for a folder where neither works, the
// name is checked just before the rename. A name that differs only in case from the source
// and finds the source itself (a case-insensitive file system) is a rename, not a clash.
extern const std::string_view kRename;  // src/ssh/remote/rename.py

// Replaces a file without ever losing its old content or identity. Placeholders: the Base64
// path, the exact number of bytes that standard input carries, and True to refuse when
// anything at all exists under the path (no link is followed then).
//
// The path is taken as the kernel takes it for a plain open: a name that such an open refuses
// (empty, ending in "/", through a missing directory or a symbolic link loop) is refused with
// the same error, naming the path as given. A symbolic link at the path is followed, so its
// target is replaced and the link stays. A file that could not be opened for writing is
// refused as it would be by a plain write, although the directory would allow replacing it.
//
// The data is streamed into a new file beside the target: an unnamed one where the system
// offers them (so that nothing is left behind when the program is killed), else a named one
// removed on any failure. The new file first takes the old one's chattr flags (while empty, as
// no-copy-on-write requires); the count is checked, the old file locked, then the new file
// takes its owner, group, extended attributes and mode, is flushed to disk, given a name and
// renamed over the target, and the directory is flushed too. When the identity cannot be
// carried over in full or the system refuses the rename (a mount point, a sticky directory),
// the target is rewritten in place from the new file instead; no error ever names the new file.
//
// A new file is made as a plain create makes it (its mode from the umask or the folder's
// default ACL), unnamed until its content is complete, then linked under its name; without
// unnamed files it is created exclusively under its name and removed on failure. A name that
// appears meanwhile is refused when asked to refuse, else saved over as if it had been there
// from the start.
//
// A file with several hard links, or one that is not a regular file, is rewritten in place so
// that it stays one file; so is a file whose directory refuses new files while the file itself
// is writable, and one in an append-only directory, where a named new file could never be
// removed again. In place, on btrfs and XFS the input goes first into an unnamed file beside
// the target (a full disk fails there, with the target untouched), whose extents are then put
// onto the target in one step (FICLONE), so that it holds the old bytes or the new, never a
// mix. Elsewhere, or where the clone is refused, the input is taken into an unnamed file of
// the temporary folder and counted (the interpreter holds one buffer of it), and space is
// made sure of before the first old byte is overwritten: on a copy-on-write file system
// (btrfs, ZFS, bcachefs), where every block written needs a free one, the free space must hold
// the whole content; elsewhere the space is reserved with fallocate without changing the size,
// or, where the file system has none, the free space is checked and the new bytes past the old
// end are written first. A full disk fails with the file exactly as it was. Standard error
// carries, ahead of any message, a mark line (a record separator, "rewriting" or "written")
// when the file begins to change in place and when all the new bytes are in, for a caller that
// finds the program killed. A named pipe is opened without waiting: one that no program reads
// from is refused at once.
//
// Before the old file changes it is locked (flock, with an open-file lock of one byte far past
// its end that marks a save of ours): another save is waited for up to 10 seconds, a lock
// that another program holds for 2, after which the save fails naming that program.
extern const std::string_view kWrite;  // src/ssh/remote/write.py

// Puts each value in place of the next "{}" of the template, in order.
std::string fill_program(std::string_view program, std::initializer_list<std::string_view> values);

}  // namespace wrenfield::remote_programs
