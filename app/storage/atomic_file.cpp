#include "app/storage/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>
#include <vector>

namespace velopad {
namespace {

std::system_error lastError(const std::string& what, const std::filesystem::path& path) {
    return std::system_error(errno, std::generic_category(), what + " " + path.string());
}

// Closes a descriptor on scope exit.
class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }
    // Closes now and reports the result (close can report a deferred write error).
    int close() {
        const int result = ::close(fd_);
        fd_ = -1;
        return result;
    }

  private:
    int fd_;
};

void writeAll(int fd, std::string_view content, const std::filesystem::path& path) {
    while (!content.empty()) {
        const ssize_t written = ::write(fd, content.data(), content.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            throw lastError("Could not write", path);
        }
        content.remove_prefix(static_cast<std::size_t>(written));
    }
}

// Temporary files of earlier writes of `path` that never reached their rename (the process was
// killed in between). Writes of one file are never concurrent, so none of them is in use.
void removeAbandonedTemporaries(const std::filesystem::path& directory,
                                const std::filesystem::path& path) {
    const std::string prefix = "." + path.filename().string() + ".";
    std::error_code error;
    for (std::filesystem::directory_iterator it(directory, error), end; !error && it != end;
         it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.size() == prefix.size() + 6 && name.compare(0, prefix.size(), prefix) == 0) {
            std::filesystem::remove(it->path(), error);
            error.clear();
        }
    }
}

}  // namespace

void flushDirectory(const std::filesystem::path& directory) {
    FileDescriptor dir(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0) throw lastError("Could not open directory", directory);
    if (::fsync(dir.get()) != 0) throw lastError("Could not flush directory", directory);
}

void createPrivateDirectories(const std::filesystem::path& directory) {
    if (directory.empty()) return;
    std::filesystem::path partial;
    for (const auto& part : directory) {
        partial /= part;
        if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) {
            throw lastError("Could not create directory", partial);
        }
    }
    if (!std::filesystem::is_directory(directory)) {
        throw std::system_error(std::make_error_code(std::errc::not_a_directory),
                                directory.string());
    }
}

std::optional<std::string> writeFileAtomically(const std::filesystem::path& path,
                                               std::string_view content,
                                               std::filesystem::perms mode,
                                               const DirectoryFlush& flush) {
    const std::filesystem::path directory =
        path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
    removeAbandonedTemporaries(directory, path);
    std::string pattern = (directory / ("." + path.filename().string() + ".XXXXXX")).string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');

    FileDescriptor file(::mkostemp(name.data(), O_CLOEXEC));
    if (file.get() < 0) throw lastError("Could not create a temporary file for", path);
    const std::filesystem::path temporary(name.data());

    try {
        if (::fchmod(file.get(), static_cast<mode_t>(mode)) != 0) {
            throw lastError("Could not set permissions on", temporary);
        }
        writeAll(file.get(), content, temporary);
        if (::fsync(file.get()) != 0) throw lastError("Could not flush", temporary);
        if (file.close() != 0) throw lastError("Could not close", temporary);
        if (::rename(temporary.c_str(), path.c_str()) != 0)
            throw lastError("Could not replace", path);
    } catch (...) {
        ::unlink(temporary.c_str());
        throw;
    }
    // The new content is in place; make the rename itself durable.
    try {
        flush(directory);
    } catch (const std::exception& error) {
        return std::string("The new ") + path.filename().string() +
               " is in place but may not survive a power loss: " + error.what();
    }
    return std::nullopt;
}

std::optional<std::string> readWholeFile(const std::filesystem::path& path) {
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) {
        if (errno == ENOENT) return std::nullopt;
        throw lastError("Could not open", path);
    }
    std::string content;
    char buffer[16384];
    for (;;) {
        const ssize_t count = ::read(file.get(), buffer, sizeof buffer);
        if (count < 0) {
            if (errno == EINTR) continue;
            throw lastError("Could not read", path);
        }
        if (count == 0) break;
        content.append(buffer, static_cast<std::size_t>(count));
    }
    return content;
}

std::filesystem::path setAsideUnreadableFile(const std::filesystem::path& path) {
    std::filesystem::path aside = path;
    aside += ".corrupt";
    if (::rename(path.c_str(), aside.c_str()) != 0) throw lastError("Could not move aside", path);
    return aside;
}

std::filesystem::path keepCopyOfUnreadableFile(const std::filesystem::path& path) {
    std::filesystem::path aside = path;
    aside += ".corrupt";
    std::error_code error;
    std::filesystem::copy_file(path, aside, std::filesystem::copy_options::overwrite_existing,
                               error);
    if (!error) return aside;
    return setAsideUnreadableFile(path);
}

}  // namespace velopad
