// SPDX-License-Identifier: Apache-2.0
// Preloaded into kestrawin-cli by the tests: records the calls that make
// files durable or move them (flushes, links, renames, removals) with the
// paths they act on, to the file named by KW_RECORD. With KW_APPEND_ON_FLUSH
// set, it also appends a line to that file at the first flush of a regular
// file in the same folder: another program writing to the input while the
// output is flushed.

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string PathOf(int fd)
{
    if (fd == AT_FDCWD) return ".";
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char buf[4096];
    const ssize_t n = readlink(link, buf, sizeof buf - 1);
    return n < 0 ? "?" : std::string(buf, static_cast<std::size_t>(n));
}

std::string PathAt(int dirfd, const char* name)
{
    if (name && name[0] == '/') return name;
    return PathOf(dirfd) + "/" + (name ? name : "");
}

void Record(const std::string& line)
{
    const char* file = std::getenv("KW_RECORD");
    if (!file) return;
    const int saved = errno;
    const int fd = open(file, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0) {
        const std::string text = line + "\n";
        (void)!write(fd, text.data(), text.size());
        close(fd);
    }
    errno = saved;
}

template <class F>
F Next(const char* name)
{
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

void MaybeAppend(int fd)
{
    static bool done = false;
    const char* target = std::getenv("KW_APPEND_ON_FLUSH");
    struct stat st {};
    if (done || !target || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return;
    // Only a file in the target's own folder: the output, not the key store.
    const std::string t = target;
    const std::string path = PathOf(fd);
    const std::size_t folder = t.rfind('/');
    if (folder == std::string::npos || path.rfind('/') != folder
        || path.compare(0, folder, t, 0, folder) != 0)
        return;
    done = true;
    if (std::FILE* f = std::fopen(target, "a")) {
        std::fputs("written during the flush\n", f);
        std::fclose(f);
    }
}

} // namespace

extern "C" {

int fsync(int fd)
{
    Record("fsync " + PathOf(fd));
    MaybeAppend(fd);
    return Next<int (*)(int)>("fsync")(fd);
}

int fdatasync(int fd)
{
    Record("fdatasync " + PathOf(fd));
    MaybeAppend(fd);
    return Next<int (*)(int)>("fdatasync")(fd);
}

int linkat(int olddirfd, const char* oldpath, int newdirfd, const char* newpath, int flags)
{
    Record("link " + PathAt(newdirfd, newpath));
    return Next<int (*)(int, const char*, int, const char*, int)>("linkat")(
        olddirfd, oldpath, newdirfd, newpath, flags);
}

int renameat(int olddirfd, const char* oldpath, int newdirfd, const char* newpath)
{
    Record("rename " + PathAt(olddirfd, oldpath) + " " + PathAt(newdirfd, newpath));
    return Next<int (*)(int, const char*, int, const char*)>("renameat")(olddirfd, oldpath,
                                                                         newdirfd, newpath);
}

int renameat2(int olddirfd, const char* oldpath, int newdirfd, const char* newpath, unsigned flags)
{
    Record("rename " + PathAt(olddirfd, oldpath) + " " + PathAt(newdirfd, newpath));
    return Next<int (*)(int, const char*, int, const char*, unsigned)>("renameat2")(
        olddirfd, oldpath, newdirfd, newpath, flags);
}

int unlinkat(int dirfd, const char* path, int flags)
{
    Record("unlink " + PathAt(dirfd, path));
    return Next<int (*)(int, const char*, int)>("unlinkat")(dirfd, path, flags);
}

int unlink(const char* path)
{
    Record("unlink " + PathAt(AT_FDCWD, path));
    return Next<int (*)(const char*)>("unlink")(path);
}

} // extern "C"
