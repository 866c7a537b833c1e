#include "KeltoPermissions/ProbeFileAccess.h"

#include <cerrno>
#include <system_error>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace kelto {
namespace {

[[noreturn]] void fail(const char* operation) {
    throw std::system_error(errno, std::generic_category(), operation);
}

class SystemFileAccess final : public ProbeFileAccess {
public:
    void readOneByte(const std::filesystem::path& file) const override {
        const int descriptor = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
        if (descriptor < 0) fail("open");
        char byte = 0;
        ssize_t got = 0;
        do {
            got = ::read(descriptor, &byte, 1);
        } while (got < 0 && errno == EINTR);
        const int readError = errno;
        ::close(descriptor);  // closing a file only read cannot lose anything
        if (got < 0) throw std::system_error(readError, std::generic_category(), "read");
    }

    void listFolder(const std::filesystem::path& folder) const override {
        DIR* directory = ::opendir(folder.c_str());
        if (directory == nullptr) fail("opendir");
        errno = 0;
        while (::readdir(directory) != nullptr) {
        }
        const int listError = errno;
        ::closedir(directory);
        if (listError != 0) throw std::system_error(listError, std::generic_category(), "readdir");
    }
};

}  // namespace

const ProbeFileAccess& ProbeFileAccess::system() {
    static const SystemFileAccess access;
    return access;
}

}  // namespace kelto
