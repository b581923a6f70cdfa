// The registry file: where it is, reading it, and replacing it under the
// writers' lock.
#include "registry_store.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

namespace calquor::reg {
namespace {

std::string HomeDirectory() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir)
        return found->pw_dir;
    return {};
}

std::string Directory(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Creates the directory and its missing parents.
bool MakeDirectories(const std::string& directory) {
    struct stat info {};
    if (stat(directory.c_str(), &info) == 0) return S_ISDIR(info.st_mode);
    const std::string parent = Directory(directory);
    if (parent != directory && !MakeDirectories(parent)) return false;
    return mkdir(directory.c_str(), 0777) == 0 || errno == EEXIST;
}

// Closes the descriptor when it goes (the lock goes with it).
struct FileDescriptor {
    int fd = -1;
    explicit FileDescriptor(int f) : fd(f) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (fd >= 0) close(fd);
    }
};

LSTATUS ReadWhole(int fd, std::string& text) {
    char buffer[65536];
    while (true) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            return ERROR_CANTREAD;
        }
        if (n == 0) return ERROR_SUCCESS;
        text.append(buffer, static_cast<std::size_t>(n));
    }
}

bool WriteWhole(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

LSTATUS LoadFrom(const std::string& path, Key& root) {
    FileDescriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.fd < 0) return errno == ENOENT ? ERROR_SUCCESS : ERROR_CANTREAD;
    std::string text;
    if (const LSTATUS status = ReadWhole(file.fd, text); status != ERROR_SUCCESS) return status;
    std::string error;
    return Parse(text, root, error) ? ERROR_SUCCESS : ERROR_BADDB;
}

// Writes the text to a new file beside path and renames it over path: the
// file is always either the old content or the new, whole.
LSTATUS Replace(const std::string& path, const std::string& text) {
    std::string temporary = path + ".XXXXXX";
    const int fd = mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) return ERROR_CANTWRITE;
    FileDescriptor file(fd);
    struct stat old {};
    const mode_t mode = stat(path.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644;
    const bool written = fchmod(fd, mode) == 0 && WriteWhole(fd, text) && fsync(fd) == 0;
    if (!written || rename(temporary.c_str(), path.c_str()) != 0) {
        unlink(temporary.c_str());
        return ERROR_CANTWRITE;
    }
    return ERROR_SUCCESS;
}

}  // namespace

std::string FilePath() {
    if (const char* explicitPath = std::getenv("CALQUOR_REGISTRY"); explicitPath && *explicitPath)
        return explicitPath;
    // Only an absolute XDG_CONFIG_HOME counts, as the base-directory rules say.
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && config[0] == '/')
        return std::string(config) + "/calquor/registry.reg";
    const std::string home = HomeDirectory();
    if (home.empty()) return {};
    return home + "/.config/calquor/registry.reg";
}

LSTATUS Load(Key& root) {
    const std::string path = FilePath();
    if (path.empty()) return ERROR_PATH_NOT_FOUND;
    return LoadFrom(path, root);
}

LSTATUS Update(const std::function<LSTATUS(Key& root, bool& changed)>& change) {
    const std::string path = FilePath();
    if (path.empty()) return ERROR_PATH_NOT_FOUND;
    if (!MakeDirectories(Directory(path))) return ERROR_PATH_NOT_FOUND;
    const std::string lockPath = path + ".lock";
    FileDescriptor lock(open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
    if (lock.fd < 0) return ERROR_CANTWRITE;
    while (flock(lock.fd, LOCK_EX) != 0)
        if (errno != EINTR) return ERROR_CANTWRITE;
    Key root;
    root.name = std::string(kRootName);
    if (const LSTATUS status = LoadFrom(path, root); status != ERROR_SUCCESS) return status;
    bool changed = false;
    if (const LSTATUS status = change(root, changed); status != ERROR_SUCCESS) return status;
    if (!changed) return ERROR_SUCCESS;
    return Replace(path, Serialize(root));
}

}  // namespace calquor::reg
