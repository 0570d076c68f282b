// Putting outputs in place: link targets, modes and owners, temporaries.
#include "tools/raylume/output_files.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <process.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "support/os.h"

namespace {

// Remembered temporaries, in fixed slots so that a signal handler can walk
// them without taking memory or a lock.
constexpr int kSlots = 16;
constexpr size_t kPathBytes = 4096;
char gSlotPath[kSlots][kPathBytes];
std::atomic<bool> gSlotClaimed[kSlots];  // taken by a writer
std::atomic<bool> gSlotUsed[kSlots];     // its path is whole: the handler may remove it
std::atomic<uint32_t> gTemporaryCount{0};

const char kTemporaryMark[] = ".raylume-";

unsigned long ProcessId() {
#ifdef _WIN32
    return static_cast<unsigned long>(_getpid());
#else
    return static_cast<unsigned long>(getpid());
#endif
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    if (slash == std::string::npos) return ".";
    return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

std::string SystemText(int code) { return std::strerror(code); }

bool IsFolderPath(const std::string& path) {
#ifdef _WIN32
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
#else
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
#endif
}

bool ProcessRunning(unsigned long pid) {
#ifdef _WIN32
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
    if (!process) return GetLastError() == ERROR_ACCESS_DENIED;
    DWORD code = 0;
    const bool running = GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
    CloseHandle(process);
    return running;
#else
    return kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
#endif
}

// NAME.raylume-PID-N.tmp: the PID, or 0 when the name is no temporary of ours.
unsigned long TemporaryOwner(const std::string& name) {
    const size_t mark = name.rfind(kTemporaryMark);
    if (mark == std::string::npos || name.size() < 4 || name.compare(name.size() - 4, 4, ".tmp") != 0) return 0;
    const char* p = name.c_str() + mark + std::strlen(kTemporaryMark);
    char* end = nullptr;
    const unsigned long pid = std::strtoul(p, &end, 10);
    if (end == p || *end != '-') return 0;
    const char* count = end + 1;
    std::strtoul(count, &end, 10);
    if (end == count || std::strcmp(end, ".tmp") != 0) return 0;
    return pid;
}

}  // namespace

bool ResolveOutputTarget(const std::string& path, std::string* target, std::string* error) {
    std::string current = path;
#ifndef _WIN32
    // Each link's target, relative to the link's folder, up to a sane depth.
    for (int depth = 0;; depth++) {
        struct stat st;
        if (lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) break;
        if (depth == 32) {
            *error = "it is a chain of more than 32 symbolic links";
            return false;
        }
        char buffer[kPathBytes];
        const ssize_t n = readlink(current.c_str(), buffer, sizeof buffer - 1);
        if (n <= 0) {
            *error = "its symbolic link cannot be read: " + SystemText(errno);
            return false;
        }
        buffer[n] = 0;
        current = buffer[0] == '/' ? std::string(buffer) : FolderOf(current) + "/" + buffer;
    }
#endif
    if (IsFolderPath(current)) {
        *error = "it is a folder";
        return false;
    }
    const std::string folder = FolderOf(current);
    if (!IsFolderPath(folder)) {
        *error = "the folder '" + folder + "' does not exist";
        return false;
    }
#ifdef _WIN32
    const DWORD attributes = GetFileAttributesA(current.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        *error = "it is read-only; make it writable or choose another output";
        return false;
    }
#else
    struct stat st;
    if (stat(current.c_str(), &st) == 0) {
        // No write bit at all counts as read-only even for the superuser, who
        // could write it anyway: the file's owner said it is not to change.
        if ((st.st_mode & 0222) == 0 || access(current.c_str(), W_OK) != 0) {
            *error = "it is read-only; make it writable or choose another output";
            return false;
        }
    }
#endif
    // The folder must take a new file (the temporary).
    const std::string probe = NewTemporaryFor(current);
    FILE* f = std::fopen(probe.c_str(), "wb");
    if (!f) {
        *error = "the folder '" + folder + "' takes no new file: " + SystemText(errno);
        ForgetTemporary(probe);
        return false;
    }
    std::fclose(f);
    std::remove(probe.c_str());
    ForgetTemporary(probe);
    *target = current;
    return true;
}

std::string NewTemporaryFor(const std::string& target) {
    const std::string name = target + kTemporaryMark + std::to_string(ProcessId()) + "-" +
                             std::to_string(gTemporaryCount.fetch_add(1)) + ".tmp";
    if (name.size() < kPathBytes) {
        for (int i = 0; i < kSlots; i++) {
            bool expected = false;
            if (!gSlotClaimed[i].compare_exchange_strong(expected, true)) continue;
            std::memcpy(gSlotPath[i], name.c_str(), name.size() + 1);
            gSlotUsed[i].store(true);  // published only once the path is whole
            break;
        }
    }
    return name;
}

void ForgetTemporary(const std::string& temporary) {
    for (int i = 0; i < kSlots; i++) {
        if (!gSlotUsed[i].load() || temporary != gSlotPath[i]) continue;
        gSlotUsed[i].store(false);
        gSlotClaimed[i].store(false);
    }
}

bool FinishTemporary(const PendingOutput& output, std::string* error) {
#ifdef _WIN32
    int fd = _open(output.temporary.c_str(), _O_RDWR | _O_BINARY);
    if (fd < 0 || _commit(fd) != 0) {
        *error = "cannot flush it: " + SystemText(errno);
        if (fd >= 0) _close(fd);
        return false;
    }
    _close(fd);
#else
    int fd = open(output.temporary.c_str(), O_RDWR);
    if (fd < 0 || fsync(fd) != 0) {
        *error = "cannot flush it: " + SystemText(errno);
        if (fd >= 0) close(fd);
        return false;
    }
    struct stat old;
    if (stat(output.target.c_str(), &old) == 0) {
        // The replaced file's permissions, and its owner where that may be set.
        if (fchmod(fd, old.st_mode & 07777) != 0) {
            *error = "cannot give it the mode of the file it replaces: " + SystemText(errno);
            close(fd);
            return false;
        }
        if (fchown(fd, old.st_uid, old.st_gid) != 0 && fchown(fd, static_cast<uid_t>(-1), old.st_gid) != 0) {
            // Not the owner's right: the file becomes the user's, as any new file would.
        }
    }
    close(fd);
#endif
    return true;
}

bool CommitOutputs(std::vector<PendingOutput>* outputs, std::string* error) {
    for (size_t i = 0; i < outputs->size(); i++) {
        PendingOutput& output = (*outputs)[i];
        if (!OsReplaceFile(output.temporary, output.target)) {
            *error = "cannot put '" + output.path + "' in place: " + SystemText(errno);
            std::vector<PendingOutput> rest(outputs->begin() + static_cast<std::ptrdiff_t>(i), outputs->end());
            DiscardOutputs(&rest);
            return false;
        }
        ForgetTemporary(output.temporary);
    }
    return true;
}

void DiscardOutputs(std::vector<PendingOutput>* outputs) {
    for (const PendingOutput& output : *outputs) {
        if (output.temporary.empty()) continue;
        std::remove(output.temporary.c_str());
        ForgetTemporary(output.temporary);
    }
}

void RemoveTemporariesNow() {
    for (int i = 0; i < kSlots; i++) {
        if (!gSlotUsed[i].load()) continue;
#ifdef _WIN32
        _unlink(gSlotPath[i]);
#else
        unlink(gSlotPath[i]);
#endif
    }
}

int RemoveStaleTemporaries(const std::string& folder) {
    int removed = 0;
#ifdef _WIN32
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*.raylume-*.tmp").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return 0;
    do {
        const unsigned long pid = TemporaryOwner(found.cFileName);
        if (pid && pid != ProcessId() && !ProcessRunning(pid) &&
            std::remove((folder + "\\" + found.cFileName).c_str()) == 0)
            removed++;
    } while (FindNextFileA(search, &found));
    FindClose(search);
#else
    DIR* dir = opendir(folder.c_str());
    if (!dir) return 0;
    while (const dirent* entry = readdir(dir)) {
        const unsigned long pid = TemporaryOwner(entry->d_name);
        if (!pid || pid == ProcessId() || ProcessRunning(pid)) continue;
        const std::string path = folder + "/" + entry->d_name;
        struct stat st;
        if (lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && std::remove(path.c_str()) == 0) removed++;
    }
    closedir(dir);
#endif
    return removed;
}
