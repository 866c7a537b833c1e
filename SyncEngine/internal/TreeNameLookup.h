#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

namespace kelto {

class FileDescriptor;

// Whether a name stands in any folder of a tree on the tree's own file
// system, looked up by that name in each folder: on threads of its own from
// the moment the value is made, so that the caller's listing goes on
// meanwhile. Several folders are looked at at once, as each lookup on a
// network file system waits out a round trip. A folder that cannot be read
// is one no walk enters either; any other failure leaves folders unlooked
// at, which tells nothing.
class TreeNameLookup {
public:
    struct Tree {
        std::filesystem::path top;
        std::string name;  // may pass through one folder ("folder/name")
    };

    // A stop request ends the lookups early.
    TreeNameLookup(std::vector<Tree> trees, std::stop_token stop);
    // Stops what is left and waits for it.
    ~TreeNameLookup();
    TreeNameLookup(const TreeNameLookup&) = delete;
    TreeNameLookup& operator=(const TreeNameLookup&) = delete;

    // Waits for the answer: whether the name stood in any folder. Throws
    // FileError where a folder could not be looked at, CancellationError
    // where the stop came first.
    bool found() const;

private:
    struct Folder {
        std::shared_ptr<const FileDescriptor> parent;  // none for a tree's top
        std::filesystem::path path;
        std::size_t tree = 0;
        dev_t device = 0;  // the tree's file system
    };

    void look();
    void stopAll() noexcept;
    // Looks in one folder, adding the folders below it to `inner`; whether
    // the name stands there.
    bool lookIn(const Folder& folder, std::vector<char>& buffer, std::vector<Folder>& inner) const;
    bool ended() const { return found_ || error_ || stopped_ || (pending_.empty() && busy_ == 0); }

    const std::vector<Tree> trees_;
    mutable std::mutex lock_;
    mutable std::condition_variable changed_;
    std::vector<Folder> pending_;  // last in, first out: few descriptors held at once
    int busy_ = 0;
    bool found_ = false, stopped_ = false;
    std::exception_ptr error_;
    std::stop_callback<std::function<void()>> onStop_;
    std::vector<std::thread> lookers_;
};

}  // namespace kelto
