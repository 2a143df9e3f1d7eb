// The safe file helper: replacing keeps what a plain write keeps, a kill
// before the rename leaves the target as it was, locks exclude each other
// across a rename and time out, and private folders refuse what is unsafe.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <thread>

#include "tests/seams/fault_injection.h"
#include "platform/folder_handle.h"
#include "platform/safe_files.h"
#include "tests/support/temp_folder.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

std::set<std::string> entries(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

bool replace(const std::string& path, const std::string& bytes) {
    std::string error;
    return safe_files::replaceFile(path, bytes.data(), bytes.size(), error);
}

// Another thread's attempt, since a Windows mutex is re-entrant on its owner.
safe_files::LockResult lockFromOtherThread(const std::string& path, int64_t milliseconds) {
    safe_files::LockResult result = safe_files::LockResult::failed;
    std::thread([&] {
        safe_files::PathLock lock;
        std::string error;
        result = safe_files::lockPath(path, milliseconds, lock, error);
        lock.release();
    }).join();
    return result;
}

TEST(SafeFiles, LocksExcludeEachOtherAcrossReplacementAndTimeOut) {
    TempFolder folder;
    const std::string path = folder.file("out.vrx");
    for (const bool exists : {false, true}) {
        SCOPED_TRACE(exists ? "existing file" : "missing file");
        safe_files::PathLock lock;
        std::string error;
        ASSERT_EQ(safe_files::lockPath(path, 1000, lock, error), safe_files::LockResult::acquired);
        EXPECT_EQ(lockFromOtherThread(path, 100), safe_files::LockResult::timedOut);
        // A writer waiting while the holder renames a new file in must end
        // up holding a lock that still excludes the next writer.
        std::atomic<int> stage{0};
        safe_files::LockResult waited = safe_files::LockResult::failed;
        std::thread waiter([&] {
            safe_files::PathLock second;
            std::string ignored;
            waited = safe_files::lockPath(path, 5000, second, ignored);
            stage = 1;
            while (stage != 2) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            second.release();
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ASSERT_TRUE(replace(path, exists ? "second" : "first"));
        lock.release();
        while (stage != 1) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        EXPECT_EQ(waited, safe_files::LockResult::acquired);
        EXPECT_EQ(lockFromOtherThread(path, 100), safe_files::LockResult::timedOut);
        stage = 2;
        waiter.join();
        EXPECT_EQ(lockFromOtherThread(path, 100), safe_files::LockResult::acquired);
    }
    EXPECT_EQ(entries(folder.path()), std::set<std::string>{"out.vrx"});
}

void exitBeforeRename() {
    std::_Exit(7);
}

TEST(SafeFiles, KillBeforeRenameKeepsTheTargetAndItsLeftoverIsRemovedWhenOld) {
    // A fixed folder of this build: on Windows the dying child runs the
    // test again from the start and must find the same files.
    const fs::path root = fs::current_path() / "safe-files-kill-test";
    fs::remove_all(root);
    fs::create_directories(root);
    const std::string path = (root / "out.vrx").string();
    ASSERT_TRUE(replace(path, "old"));
    EXPECT_EXIT(
        {
            safe_files::setBeforeRenameHook(exitBeforeRename);
            replace(path, "new");
        },
        ::testing::ExitedWithCode(7), "");
    EXPECT_EQ(readFileBytes(path), "old");
    ASSERT_EQ(entries(root).size(), 2u);
    ASSERT_TRUE(replace(path, "next"));
    EXPECT_EQ(readFileBytes(path), "next");
    safe_files::removeAbandonedTemporaryFiles(root.string());
    ASSERT_EQ(entries(root).size(), 2u);  // young: may still be written
    for (const auto& name : entries(root)) {
        if (name != "out.vrx") {
            fs::last_write_time(root / name,
                                fs::file_time_type::clock::now() - std::chrono::minutes(11));
        }
    }
    safe_files::removeAbandonedTemporaryFiles(root.string());
    EXPECT_EQ(entries(root), std::set<std::string>{"out.vrx"});
    fs::remove_all(root);
}

#ifndef _WIN32
enum class Before { file664, readOnly, ownLink, danglingLink, foreignLinkInSticky, folder, device };

TEST(SafeFiles, ReplaceKeepsWhatAPlainWriteKeeps) {
    struct Case {
        const char* name;
        Before setup;
        const char* path;      // written, relative to the test folder
        bool ok;               // replaceFile's answer
        const char* checked;   // the file whose contents and mode are checked
        const char* contents;  // expected there afterwards
        mode_t mode;           // expected permission bits, 0 to skip
    };
    // clang-format off
    const Case cases[] = {
        {"mode kept",                    Before::file664,             "out.vrx",     true,  "out.vrx",     "new", 0664},
        {"read-only refused",            Before::readOnly,            "out.vrx",     false, "out.vrx",     "old", 0444},
        {"own link followed",            Before::ownLink,             "out.vrx",     true,  "real/t.vrx",  "new", 0640},
        {"dangling link creates",        Before::danglingLink,        "out.vrx",     true,  "real/t.vrx",  "new", 0},
        {"foreign link in sticky folder",Before::foreignLinkInSticky, "tmp/out.vrx", false, "real/t.vrx",  "old", 0},
        {"folder refused",               Before::folder,              "out.vrx",     false, "out.vrx/keep", "old", 0},
        {"device written in place",      Before::device,              "null",        true,  "null",        "",    0},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        const fs::path root = folder.path();
        const std::string real = folder.write("real/t.vrx", "old");
        fs::permissions(real, static_cast<fs::perms>(0640));
        if (c.setup == Before::file664 || c.setup == Before::readOnly) {
            folder.write("out.vrx", "old");
            fs::permissions(root / "out.vrx", static_cast<fs::perms>(c.mode));
        } else if (c.setup == Before::ownLink || c.setup == Before::danglingLink) {
            if (c.setup == Before::danglingLink) {
                fs::remove(real);
            }
            fs::create_symlink("real/t.vrx", root / "out.vrx");
        } else if (c.setup == Before::foreignLinkInSticky) {
            fs::create_directory(root / "tmp");
            fs::permissions(root / "tmp", static_cast<fs::perms>(01777));
            fs::create_symlink("../real/t.vrx", root / "tmp/out.vrx");
            if (lchown((root / "tmp/out.vrx").c_str(), getuid() + 4321, getgid()) != 0) {
                continue;  // only the superuser can make a link of another user
            }
        } else if (c.setup == Before::folder) {
            folder.write("out.vrx/keep", "old");
        } else if (c.setup == Before::device &&
                   mknod((root / "null").c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0) {
            continue;  // only the superuser can make a device node (of the null device)
        }
        const std::string path = c.path[0] == '/' ? c.path : folder.file(c.path);
        EXPECT_EQ(replace(path, c.setup == Before::device ? "" : "new"), c.ok);
        const fs::path checked = c.checked[0] == '/' ? c.checked : root / c.checked;
        if (c.setup == Before::device) {
            EXPECT_TRUE(fs::is_character_file(checked));
            continue;
        }
        EXPECT_EQ(readFileBytes(checked), c.contents);
        if (c.mode != 0) {
            EXPECT_EQ(static_cast<mode_t>(fs::status(checked).permissions()), c.mode);
        }
        if (c.setup == Before::ownLink || c.setup == Before::danglingLink) {
            EXPECT_TRUE(fs::is_symlink(root / "out.vrx"));
        }
        EXPECT_EQ(entries(root / "real"), std::set<std::string>{"t.vrx"});
    }
}

TEST(SafeFiles, PrivateFoldersRefuseLinksFilesAndOtherUsers) {
    TempFolder folder;
    const fs::path root = folder.path();
    folder.write("file", "x");
    fs::create_directory(root / "real");
    fs::create_directory_symlink("real", root / "link");
    fs::create_directory(root / "foreign");
    const bool canChown = chown((root / "foreign").c_str(), getuid() + 4321, getgid()) == 0;
    for (const char* name : {"shared", "group", "sticky", "widened"}) {
        fs::create_directory(root / name);
    }
    chmod((root / "shared").c_str(), 0777);
    chmod((root / "group").c_str(), 02770);
    chmod((root / "sticky").c_str(), 01777);
    chmod((root / "widened").c_str(), 0777);
    using safe_files::FolderOrigin;
    using safe_files::FolderResult;
    // clang-format off
    const struct { const char* name; FolderOrigin origin; FolderResult expected; mode_t mode; } cases[] = {
        {"new/private", FolderOrigin::named,      FolderResult::ready,            0700},
        {"link",        FolderOrigin::named,      FolderResult::symbolicLink,     0},
        {"file",        FolderOrigin::named,      FolderResult::notAFolder,       0},
        {"foreign",     FolderOrigin::ownDefault, canChown ? FolderResult::foreignOwner : FolderResult::ready, 0},
        {"shared",      FolderOrigin::named,      FolderResult::writableByOthers, 0777},
        {"group",       FolderOrigin::named,      FolderResult::writableByOthers, 02770},
        {"sticky",      FolderOrigin::named,      FolderResult::writableByOthers, 01777},
        {"widened",     FolderOrigin::ownDefault, FolderResult::ready,            0700},
    };
    // clang-format on
    for (const auto& c : cases) {
        std::string error;
        safe_files::FolderHandle handle;
        EXPECT_EQ(safe_files::openPrivateFolder(folder.file(c.name), c.origin, handle, error),
                  c.expected)
            << c.name;
        EXPECT_EQ(handle.isOpen(), c.expected == FolderResult::ready) << c.name;
        struct stat status {};
        if (c.mode != 0 && lstat(folder.file(c.name).c_str(), &status) == 0) {
            EXPECT_EQ(status.st_mode & 07777, c.mode) << c.name;
        }
    }
    std::string error;
    const std::string secret = folder.file("new/private/secret");
    ASSERT_TRUE(safe_files::writeFileAtomically(secret, "s", 1, safe_files::FileMode::privateToUser,
                                                error));
    EXPECT_EQ(fs::status(secret).permissions(), fs::perms::owner_read | fs::perms::owner_write);
}
#endif

}  // namespace
