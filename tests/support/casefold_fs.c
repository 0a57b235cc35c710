// SPDX-License-Identifier: GPL-3.0-or-later
// casefold_fs [--nfkc] BACKING_DIR MOUNTPOINT: a case-insensitive, case-preserving pass-through
// standing in for a casefold output folder, with only the operations the tests need. Names are
// one entry when their NFC case folds (with --nfkc, compatibility folds) are equal.
#define FUSE_USE_VERSION 31
#define _GNU_SOURCE

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <fuse.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utf8proc.h>

static char* backing;
static int nfkc;

static char* join(const char* dir, const char* name) {
    char* s = NULL;
    if (asprintf(&s, "%s/%s", dir, name) < 0) abort();
    return s;
}

// The name as the file system compares it; bytes that are not UTF-8 compare as they are.
static char* fold(const char* name) {
    utf8proc_uint8_t* folded = NULL;
    if (nfkc)
        folded = utf8proc_NFKC_Casefold((const utf8proc_uint8_t*)name);
    else
        utf8proc_map((const utf8proc_uint8_t*)name, 0, &folded,
                     UTF8PROC_NULLTERM | UTF8PROC_STABLE | UTF8PROC_COMPOSE | UTF8PROC_CASEFOLD);
    return folded ? (char*)folded : strdup(name);
}

// The stored name in `dir` of the entry `name` designates, or `name` itself when none does.
static char* stored_name(const char* dir, const char* name) {
    char* exact = join(dir, name);
    struct stat st;
    const int found = lstat(exact, &st) == 0;
    free(exact);
    if (found) return strdup(name);
    char* wanted = fold(name);
    char* result = NULL;
    DIR* d = opendir(dir);
    for (struct dirent* e; d && !result && (e = readdir(d));) {
        if (!strcmp(e->d_name, ".") || !strcmp(e->d_name, "..")) continue;
        char* f = fold(e->d_name);
        if (!strcmp(f, wanted)) result = strdup(e->d_name);
        free(f);
    }
    if (d) closedir(d);
    free(wanted);
    return result ? result : strdup(name);
}

// The backing path of a mount path, each component matched the case-insensitive way.
static char* resolve(const char* path) {
    char* out = strdup(backing);
    for (const char* p = path; *p;) {
        if (*p == '/') {
            ++p;
            continue;
        }
        const size_t len = strcspn(p, "/");
        char* name = strndup(p, len);
        char* stored = stored_name(out, name);
        char* next = join(out, stored);
        free(name);
        free(stored);
        free(out);
        out = next;
        p += len;
    }
    return out;
}

static int result(int rc) {
    return rc < 0 ? -errno : rc;
}

// Runs `call` on the resolved path and returns 0 or the negated errno.
#define ON_PATH(path, call)                                                                        \
    do {                                                                                           \
        char* real = resolve(path);                                                                \
        const int rc = result(call);                                                               \
        free(real);                                                                                \
        return rc;                                                                                 \
    } while (0)

static void* cf_init(struct fuse_conn_info* conn, struct fuse_config* cfg) {
    (void)conn;
    cfg->use_ino = 1;     // the backing inode, so that aliases of one file compare equal
    cfg->hard_remove = 1; // no .fuse_hidden files left in the listed folder
    // Nothing cached under a name: another spelling may have changed the entry meanwhile.
    cfg->entry_timeout = 0;
    cfg->negative_timeout = 0;
    cfg->attr_timeout = 0;
    return NULL;
}

static int cf_getattr(const char* path, struct stat* st, struct fuse_file_info* fi) {
    if (fi) return result(fstat((int)fi->fh, st));
    ON_PATH(path, lstat(real, st));
}

static int cf_readdir(const char* path, void* buf, fuse_fill_dir_t fill, off_t off,
                      struct fuse_file_info* fi, enum fuse_readdir_flags flags) {
    (void)off, (void)fi, (void)flags;
    char* real = resolve(path);
    DIR* d = opendir(real);
    free(real);
    if (!d) return -errno;
    for (struct dirent* e; (e = readdir(d));) {
        struct stat st = {.st_ino = e->d_ino, .st_mode = (mode_t)DTTOIF(e->d_type)};
        if (fill(buf, e->d_name, &st, 0, 0)) break;
    }
    closedir(d);
    return 0;
}

static int cf_create(const char* path, mode_t mode, struct fuse_file_info* fi) {
    char* real = resolve(path);
    const int fd = open(real, fi->flags, mode); // a create's flags hold O_CREAT
    free(real);
    if (fd < 0) return -errno;
    fi->fh = (uint64_t)fd;
    return 0;
}

static int cf_open(const char* path, struct fuse_file_info* fi) {
    return cf_create(path, 0, fi);
}

static int cf_read(const char* path, char* buf, size_t size, off_t off, struct fuse_file_info* fi) {
    (void)path;
    return result((int)pread((int)fi->fh, buf, size, off));
}

static int cf_write(const char* path, const char* buf, size_t size, off_t off,
                    struct fuse_file_info* fi) {
    (void)path;
    return result((int)pwrite((int)fi->fh, buf, size, off));
}

static int cf_release(const char* path, struct fuse_file_info* fi) {
    (void)path;
    return result(close((int)fi->fh));
}

static int cf_fsync(const char* path, int datasync, struct fuse_file_info* fi) {
    (void)path;
    return result(datasync ? fdatasync((int)fi->fh) : fsync((int)fi->fh));
}

static int cf_unlink(const char* path) {
    ON_PATH(path, unlink(real));
}

static int cf_chmod(const char* path, mode_t mode, struct fuse_file_info* fi) {
    (void)fi;
    ON_PATH(path, chmod(real, mode));
}

static int cf_rename(const char* from, const char* to, unsigned int flags) {
    char* real_from = resolve(from);
    char* real_to = resolve(to);
    const int rc = result(renameat2(AT_FDCWD, real_from, AT_FDCWD, real_to, flags));
    free(real_from);
    free(real_to);
    return rc;
}

static const struct fuse_operations ops = {
    .init = cf_init,
    .getattr = cf_getattr,
    .readdir = cf_readdir,
    .open = cf_open,
    .create = cf_create,
    .read = cf_read,
    .write = cf_write,
    .release = cf_release,
    .fsync = cf_fsync,
    .unlink = cf_unlink,
    .chmod = cf_chmod,
    .rename = cf_rename,
};

int main(int argc, char* argv[]) {
    nfkc = argc == 4 && !strcmp(argv[1], "--nfkc");
    if (argc != 3 + nfkc || !(backing = realpath(argv[1 + nfkc], NULL))) {
        fputs("usage: casefold_fs [--nfkc] BACKING_DIR MOUNTPOINT\n", stderr);
        return 2;
    }
    // Foreground and single-threaded: the test owns the process and unmounts it.
    char* args[] = {argv[0], "-f", "-s", argv[2 + nfkc], NULL};
    return fuse_main(4, args, &ops, NULL);
}
