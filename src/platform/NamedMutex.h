#pragma once

#include <filesystem>
#include <memory>
#include <string>

namespace lodestrum::platform {

// A system-wide named mutex: a lock file in the runtime folder that every
// holder keeps a shared flock on. It "exists" while some live process holds
// it, so a file left by a crashed process counts for nothing.
class NamedMutex {
public:
    // Creates or opens the mutex; nullptr with a reason when the file cannot be used.
    static std::unique_ptr<NamedMutex> Create(const std::string& name, std::string& error,
                                              std::filesystem::path folder = {});
    ~NamedMutex();
    NamedMutex(const NamedMutex&) = delete;
    NamedMutex& operator=(const NamedMutex&) = delete;

    // Another live process held it when this one was created.
    bool AlreadyExisted() const { return Existed; }

private:
    NamedMutex(int fd, bool existed) : Fd(fd), Existed(existed) {}
    int Fd;
    bool Existed;
};

} // namespace lodestrum::platform
