// SPDX-License-Identifier: MIT
#include "model/board_file.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace tavrel_sim {

bool identify(int fd, FileId* id)
{
    struct statx sx;
    if (syscall(SYS_statx, fd, "", AT_EMPTY_PATH,
                STATX_TYPE | STATX_MODE | STATX_UID | STATX_INO | STATX_SIZE, &sx) != 0)
        return false;
    id->dev = uint64_t{sx.stx_dev_major} << 32 | sx.stx_dev_minor;
    id->ino = sx.stx_ino;
    id->size = sx.stx_size;
    id->uid = sx.stx_uid;
    id->mode = sx.stx_mode;
    id->regular = S_ISREG(sx.stx_mode);
    return true;
}

namespace {

// A directory that only this user can use: the user's own, a directory and
// not a link to one, with no access for group or others.
bool private_directory(const char* dir, char* why, size_t why_size)
{
    // statx, for the reason identify() gives.
    struct statx sx;
    if (syscall(SYS_statx, AT_FDCWD, dir, AT_SYMLINK_NOFOLLOW, STATX_TYPE | STATX_MODE | STATX_UID, &sx) !=
        0) {
        snprintf(why, why_size, "%s: %s", dir, strerror(errno));
        return false;
    }
    if (!S_ISDIR(sx.stx_mode)) {
        snprintf(why, why_size, "%s is not a directory (a link or a file stands there)", dir);
        return false;
    }
    if (sx.stx_uid != geteuid()) {
        snprintf(why, why_size, "%s belongs to another user (uid %u)", dir,
                 static_cast<unsigned>(sx.stx_uid));
        return false;
    }
    if (sx.stx_mode & 077) {
        snprintf(why, why_size, "%s is open to group or others (mode %04o)", dir,
                 static_cast<unsigned>(sx.stx_mode & 07777));
        return false;
    }
    return true;
}

}  // namespace

bool default_board_path(char* buf, size_t size, char* why, size_t why_size)
{
    const char* runtime = getenv("XDG_RUNTIME_DIR");
    char ignored[kMessageBytes];
    if (runtime && runtime[0] == '/' && private_directory(runtime, ignored, sizeof ignored)) {
        if (static_cast<size_t>(snprintf(buf, size, "%s/tavrel-sim.board", runtime)) < size) return true;
    }
    const char* tmp = getenv("TMPDIR");
    if (!tmp || tmp[0] != '/') tmp = "/tmp";
    char dir[4096];
    if (static_cast<size_t>(snprintf(dir, sizeof dir, "%s/tavrel-sim-%u", tmp,
                                     static_cast<unsigned>(geteuid()))) >= sizeof dir) {
        snprintf(why, why_size, "the temporary directory's path is too long");
        return false;
    }
    if (mkdir(dir, 0700) != 0 && errno != EEXIST) {
        snprintf(why, why_size, "cannot create %s: %s", dir, strerror(errno));
        return false;
    }
    if (!private_directory(dir, why, why_size)) return false;
    if (static_cast<size_t>(snprintf(buf, size, "%s/board", dir)) >= size) {
        snprintf(why, why_size, "the path of the default board is too long");
        return false;
    }
    return true;
}

}  // namespace tavrel_sim
