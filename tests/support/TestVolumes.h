#pragma once

#include "tests/support/TemporaryFolder.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kelto::test {

// A folder on tmpfs, which keeps every time a 64-bit count of seconds can
// hold: years before 1000 and from 10000 on. Uses /dev/shm when that is
// tmpfs, else mounts a tmpfs of its own (root only).
class TmpfsFolder {
public:
    // nullptr, with the reason in `whyNot`, when no tmpfs can be had.
    static std::unique_ptr<TmpfsFolder> make(std::string& whyNot);
    ~TmpfsFolder();
    TmpfsFolder(const TmpfsFolder&) = delete;
    TmpfsFolder& operator=(const TmpfsFolder&) = delete;

    const std::filesystem::path& path() const { return folder_->path(); }
    std::filesystem::path operator/(const std::filesystem::path& relative) const { return path() / relative; }

private:
    TmpfsFolder() = default;
    std::optional<TemporaryFolder> mountPoint_;  // when mounted here
    std::optional<TemporaryFolder> folder_;
};

// A small ext4 file system in an image file, mounted through a loop device
// for the value's lifetime. ext4 keeps times from 1901-12-13 to 2446-05-10
// and clamps any other time it is given to that range.
class Ext4Volume {
public:
    // nullptr, with the reason in `whyNot`, when it cannot be made and
    // mounted (not root, no mkfs.ext4, no loop device). A label and a UUID
    // are given to the file system when not empty.
    static std::unique_ptr<Ext4Volume> make(std::string& whyNot, const std::string& label = {},
                                            const std::string& uuid = {});
    ~Ext4Volume();
    Ext4Volume(const Ext4Volume&) = delete;
    Ext4Volume& operator=(const Ext4Volume&) = delete;

    const std::filesystem::path& path() const { return mountPoint_; }
    std::filesystem::path operator/(const std::filesystem::path& relative) const { return mountPoint_ / relative; }

    // Unmounts the file system and mounts it again at a new folder.
    bool remountElsewhere();

private:
    Ext4Volume() = default;
    int mounts_ = 0;
    TemporaryFolder holder_;
    std::filesystem::path mountPoint_;
    bool mounted_ = false;
};

// Mounts a test makes, undone when the value goes (the last made first),
// also when the test fails. Each call is false when it cannot be made (not
// root, a tool missing); the other mounts stay.
class TestMounts {
public:
    TestMounts() = default;
    ~TestMounts();
    TestMounts(const TestMounts&) = delete;
    TestMounts& operator=(const TestMounts&) = delete;

    bool bind(const std::filesystem::path& folder, const std::filesystem::path& at);
    bool tmpfs(const std::filesystem::path& at);
    // A FUSE pass-through of the folder (bindfs).
    bool passThrough(const std::filesystem::path& folder, const std::filesystem::path& at);
    bool overlay(const std::filesystem::path& lower, const std::filesystem::path& upper,
                 const std::filesystem::path& work, const std::filesystem::path& at);
    // A fresh 64 MiB exFAT image at `image` through a loop device and the
    // FUSE driver, which folds case.
    bool exfat(const std::filesystem::path& image, const std::filesystem::path& at);
    // A fresh 16 MiB ext4 image at `image` through a loop device; mounted
    // read-only, the kernel leaves the image's bytes alone.
    bool ext4Image(const std::filesystem::path& image, const std::filesystem::path& at, bool readOnly = false);
    // Whatever `command` mounts at `at` (a FUSE file system, or a mount made
    // from another working folder), undone like the others.
    bool byCommand(const std::vector<std::string>& command, const std::filesystem::path& at) {
        return mount(command, at);
    }

private:
    bool mount(const std::vector<std::string>& command, const std::filesystem::path& at);
    std::vector<std::filesystem::path> mounted_;
    std::vector<std::string> loopDevices_;
};

// Runs a program found on PATH with its output thrown away; its exit status,
// or -1 when it could not be started.
int runQuietly(const std::vector<std::string>& arguments);

}  // namespace kelto::test
