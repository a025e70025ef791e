#include "support/TempDir.h"
#include "transfers/ReceivedFile.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace lodestrum;
using lodestrum::testkit::ReadBytes;
using lodestrum::testkit::TempDir;
using transfers::WriteResult;

namespace {

std::vector<std::string> Names(const TempDir& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.Path()))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

mode_t ModeOf(const std::filesystem::path& path) {
    struct stat info {};
    ::stat(path.c_str(), &info);
    return info.st_mode & 07777;
}

const std::vector<uint8_t> Old = {'o', 'l', 'd'};
const std::vector<uint8_t> New(300, 0x5A);

} // namespace

TEST(WriteReceivedFile, WhatATargetAllowsAndWhatItKeeps) {
    struct Case {
        const char* Name;
        std::function<void(const std::filesystem::path&)> Prepare;
        WriteResult Result;
        std::vector<uint8_t> Holds; // the target afterwards; empty for none
    };
    const Case cases[] = {
        {"new file", [](auto&) {}, WriteResult::Written, New},
        {"writable file is replaced",
         [](auto& p) { std::ofstream(p) << "old"; }, WriteResult::Written, New},
        {"read-only file stays",
         [](auto& p) {
             std::ofstream(p) << "old";
             ::chmod(p.c_str(), 0444);
         },
         WriteResult::CannotCreate, Old},
        {"a folder is never replaced", [](auto& p) { std::filesystem::create_directory(p); },
         WriteResult::CannotCreate, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TempDir dir;
        const auto target = dir.Path() / "ABC.83P";
        c.Prepare(target);
        EXPECT_EQ(transfers::WriteReceivedFile(target.string(), New), c.Result);
        if (!c.Holds.empty()) {
            EXPECT_EQ(ReadBytes(target), c.Holds);
        }
        EXPECT_EQ(Names(dir), std::vector<std::string>{"ABC.83P"}) << "no temporary file left";
    }
}

TEST(WriteReceivedFile, ReplacedFileKeepsItsPermissions) {
    TempDir dir;
    const auto target = dir.Path() / "x.89P";
    std::ofstream(target) << "old";
    ::chmod(target.c_str(), 0640);
    ASSERT_EQ(transfers::WriteReceivedFile(target.string(), New), WriteResult::Written);
    EXPECT_EQ(ModeOf(target), 0640u);
}

TEST(WriteReceivedFile, MissingFolderCannotBeCreatedIn) {
    TempDir dir;
    EXPECT_EQ(transfers::WriteReceivedFile((dir.Path() / "no" / "x").string(), New),
              WriteResult::CannotCreate);
    EXPECT_TRUE(Names(dir).empty());
}

TEST(WriteReceivedFile, ShortWriteLeavesTheOldFileWhole) {
    TempDir dir;
    const auto target = dir.Path() / "big.86G";
    std::ofstream(target) << "old";
    struct rlimit previous {};
    ::getrlimit(RLIMIT_FSIZE, &previous);
    auto handler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = previous;
    small.rlim_cur = 100;
    ::setrlimit(RLIMIT_FSIZE, &small);
    const auto result = transfers::WriteReceivedFile(target.string(), New);
    ::setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, handler);
    EXPECT_EQ(result, WriteResult::ShortWrite);
    EXPECT_EQ(ReadBytes(target), Old);
    EXPECT_EQ(Names(dir), std::vector<std::string>{"big.86G"});
}

TEST(ExistsForWriting, OnlyAFileThatCouldBeReplaced) {
    TempDir dir;
    std::ofstream(dir.Path() / "rw") << "x";
    std::ofstream(dir.Path() / "ro") << "x";
    ::chmod((dir.Path() / "ro").c_str(), 0444);
    std::filesystem::create_directory(dir.Path() / "folder");
    ::mkfifo((dir.Path() / "fifo").c_str(), 0666);
    EXPECT_TRUE(transfers::ExistsForWriting((dir.Path() / "rw").string()));
    EXPECT_FALSE(transfers::ExistsForWriting((dir.Path() / "ro").string()));
    EXPECT_FALSE(transfers::ExistsForWriting((dir.Path() / "folder").string()));
    EXPECT_FALSE(transfers::ExistsForWriting((dir.Path() / "fifo").string())) << "and it does not block";
    EXPECT_FALSE(transfers::ExistsForWriting((dir.Path() / "missing").string()));
}
