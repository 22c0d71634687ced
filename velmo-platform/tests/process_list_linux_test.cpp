#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "../src/process_list_linux.hpp"
#include "refusing_filter_linux.hpp"
#include "velmo/platform.hpp"

namespace velmo::platform {
namespace {

// Every numeric entry of a full listing of /proc: the reference answer.
std::set<std::uint32_t> proc_listing() {
    std::set<std::uint32_t> ids;
    DIR* directory = opendir("/proc");
    if (directory == nullptr) return ids;
    while (dirent* entry = readdir(directory)) {
        char* end = nullptr;
        unsigned long id = std::strtoul(entry->d_name, &end, 10);
        if (entry->d_name[0] >= '0' && entry->d_name[0] <= '9' && *end == '\0') ids.insert(id);
    }
    closedir(directory);
    return ids;
}

// Checks `answer(id)` against a listing taken just before and just after it;
// processes start and end on a shared machine, so a disagreement counts only
// when both listings agree with each other.
void expect_matches_listing(std::uint32_t id, const std::function<bool(std::uint32_t)>& answer) {
    for (int attempt = 0; attempt < 5; ++attempt) {
        bool before = proc_listing().contains(id);
        bool got = answer(id);
        bool after = proc_listing().contains(id);
        if (before == after) {
            EXPECT_EQ(got, before) << "id " << id;
            return;
        }
    }
}

std::uint32_t pid_max() {
    std::ifstream file("/proc/sys/kernel/pid_max");
    std::uint32_t value = 0;
    file >> value;
    return value;
}

// Gives up root for `uid`, supplementary groups included.
bool become(int uid) { return setgroups(0, nullptr) == 0 && setgid(uid) == 0 && setuid(uid) == 0; }

// A process that sleeps until it is killed, under `uid` when given.
class SleepingChild {
public:
    explicit SleepingChild(int uid = -1) {
        pid_ = fork();
        if (pid_ == 0) {
            if (uid >= 0 && !become(uid)) _exit(1);
            for (;;) pause();
        }
    }
    ~SleepingChild() {
        if (pid_ <= 0) return;
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    std::uint32_t pid() const { return static_cast<std::uint32_t>(pid_); }

private:
    pid_t pid_;
};

// Runs `body` in a forked child and returns its exit status.
int exit_status_of(const std::function<int()>& body) {
    pid_t child = fork();
    if (child == 0) _exit(body());
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

constexpr int nobody = 65534;
constexpr int another_user = 65533;

TEST(ProcessExists, SeesItselfItsParentAndInit) {
    EXPECT_TRUE(process_exists(static_cast<std::uint32_t>(getpid())));
    EXPECT_TRUE(process_exists(static_cast<std::uint32_t>(getppid())));
    EXPECT_TRUE(process_exists(1));
    EXPECT_TRUE(proc::listed_in_proc(static_cast<std::uint32_t>(getpid())));
    EXPECT_TRUE(proc::listed_in_proc(1));
}

TEST(ProcessExists, ZombieCountsUntilReaped) {
    pid_t child = fork();
    if (child == 0) _exit(0);
    siginfo_t info{};
    // Waits for the exit but leaves the child unreaped: a zombie.
    ASSERT_EQ(waitid(P_PID, child, &info, WEXITED | WNOWAIT), 0);
    auto id = static_cast<std::uint32_t>(child);
    EXPECT_TRUE(process_exists(id));
    EXPECT_TRUE(proc::listed_in_proc(id));
    ASSERT_EQ(waitpid(child, nullptr, 0), child);
    EXPECT_FALSE(process_exists(id));
    EXPECT_FALSE(proc::listed_in_proc(id));
}

TEST(ProcessExists, ThreadThatLeadsNoGroupIsNotAProcess) {
    std::mutex mutex;
    std::condition_variable changed;
    pid_t tid = 0;
    bool done = false;
    std::thread thread([&] {
        std::unique_lock lock(mutex);
        tid = static_cast<pid_t>(syscall(SYS_gettid));
        changed.notify_all();
        changed.wait(lock, [&] { return done; });
    });
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return tid != 0; });
    }
    auto id = static_cast<std::uint32_t>(tid);
    // /proc resolves the thread's id although its listing leaves it out.
    EXPECT_TRUE(proc::shown_under_proc(id));
    EXPECT_EQ(proc_listing().count(id), 0u);
    EXPECT_EQ(proc::thread_group_leader(id), proc::Leader::no);
    EXPECT_FALSE(process_exists(id));
    EXPECT_FALSE(proc::listed_in_proc(id));
    {
        std::lock_guard lock(mutex);
        done = true;
    }
    changed.notify_all();
    thread.join();
}

TEST(ProcessExists, IdsNoProcessCanHave) {
    std::uint32_t max = pid_max();
    ASSERT_GT(max, 0u);
    for (std::uint32_t id :
         {0u, max, max + 1, std::uint32_t{INT_MAX}, std::uint32_t{INT_MAX} + 1, UINT32_MAX}) {
        EXPECT_FALSE(process_exists(id)) << id;
        EXPECT_FALSE(proc::listed_in_proc(id)) << id;
    }
}

// Thread ids of every listed process: ids /proc resolves but does not list.
std::set<std::uint32_t> thread_ids(const std::set<std::uint32_t>& processes) {
    std::set<std::uint32_t> ids;
    for (std::uint32_t pid : processes) {
        std::string path = "/proc/" + std::to_string(pid) + "/task";
        DIR* directory = opendir(path.c_str());
        if (directory == nullptr) continue;
        while (dirent* entry = readdir(directory)) {
            unsigned long id = std::strtoul(entry->d_name, nullptr, 10);
            if (id != 0) ids.insert(static_cast<std::uint32_t>(id));
        }
        closedir(directory);
    }
    return ids;
}

// The ids worth asking about, given the listed processes: those processes,
// their threads, the id after each process, and every id below `low_ids`.
std::set<std::uint32_t> ids_to_probe(const std::set<std::uint32_t>& processes,
                                     std::uint32_t low_ids) {
    std::set<std::uint32_t> ids = thread_ids(processes);
    for (std::uint32_t id : processes) {
        ids.insert(id);
        ids.insert(id + 1);
    }
    for (std::uint32_t id = 0; id < low_ids; ++id) ids.insert(id);
    return ids;
}

// Processes, thread ids, their neighbours and the low free ids must all get
// the listing's answer, from both paths.
TEST(ProcessExists, AgreesWithTheListing) {
    std::set<std::uint32_t> before = proc_listing();
    ASSERT_FALSE(before.empty());
    std::set<std::uint32_t> ids = ids_to_probe(before, 4096);
    std::set<std::uint32_t> fast;
    std::set<std::uint32_t> exact;
    for (std::uint32_t id : ids) {
        if (process_exists(id)) fast.insert(id);
        if (proc::listed_in_proc(id)) exact.insert(id);
    }
    std::set<std::uint32_t> after = proc_listing();
    for (std::uint32_t id : ids) {
        bool listed = before.contains(id);
        if (listed != after.contains(id)) continue;  // changed meanwhile
        if (fast.contains(id) != listed) expect_matches_listing(id, process_exists);
        if (exact.contains(id) != listed) expect_matches_listing(id, proc::listed_in_proc);
    }
}

// Another user's process cannot be signalled by an unprivileged caller, and
// still counts.
TEST(ProcessExists, CountsAnotherUsersProcess) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to run processes as two other users";
    SleepingChild target(nobody);
    std::uint32_t id = target.pid();
    int status = exit_status_of([id] {
        if (!become(another_user)) return 2;
        if (kill(static_cast<pid_t>(id), 0) == 0 || errno != EPERM) return 3;
        return process_exists(id) && process_exists(1) ? 0 : 1;
    });
    EXPECT_EQ(status, 0);
}

// A /proc mounted with hidepid leaves other users' processes out of the
// listing (invisible) or only closes their directories (noaccess); the answer
// follows the listing either way. Runs in a private mount namespace.
TEST(ProcessExists, FollowsHidepid) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to mount /proc";
    SleepingChild target(nobody);
    std::uint32_t id = target.pid();
    auto check_under = [id](const char* option, bool expected) {
        return exit_status_of([id, option, expected] {
            if (unshare(CLONE_NEWNS) != 0) return 77;
            if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return 77;
            if (mount("proc", "/proc", "proc", 0, option) != 0) return 77;
            if (!become(another_user)) return 2;
            bool listed = proc_listing().contains(id);
            if (listed != expected) return 3;
            if (process_exists(id) != expected || proc::listed_in_proc(id) != expected) return 1;
            return process_exists(static_cast<std::uint32_t>(getpid())) ? 0 : 4;
        });
    };
    int invisible = check_under("hidepid=2", false);
    if (invisible == 77) GTEST_SKIP() << "cannot mount /proc in a new mount namespace";
    EXPECT_EQ(invisible, 0);
    EXPECT_EQ(check_under("hidepid=1", true), 0);
}

// A refused signal check, as for another user's process, names a leader; the
// listing then settles whether it is one this caller may see.
TEST(ProcessExists, ARefusedSignalCheckNamesALeader) {
    int status = testing::run_in_child([] {
        if (!testing::refuse_system_call(SYS_tgkill, EPERM)) return testing::cannot_set_up;
        auto self = static_cast<std::uint32_t>(getpid());
        if (proc::thread_group_leader(self) != proc::Leader::yes) return 1;
        return process_exists(self) && !process_exists(INT_MAX - 1) ? 0 : 2;
    });
    if (status == testing::cannot_set_up) GTEST_SKIP() << "cannot install a seccomp filter here";
    EXPECT_EQ(status, 0);
}

// A sandbox that filters tgkill leaves the walk of /proc's listing, which
// must give the listing's answers for processes, threads and free ids.
TEST(ProcessExists, WalksTheListingWhenTgkillIsRefused) {
    int status = testing::run_in_child([] {
        if (!testing::refuse_system_call(SYS_tgkill, ENOSYS)) return testing::cannot_set_up;
        if (proc::thread_group_leader(static_cast<std::uint32_t>(getpid())) !=
            proc::Leader::unknown) {
            return 1;
        }
        std::set<std::uint32_t> before = proc_listing();
        std::set<std::uint32_t> ids = ids_to_probe(before, 1024);
        std::set<std::uint32_t> found;
        for (std::uint32_t id : ids) {
            if (process_exists(id)) found.insert(id);
        }
        std::set<std::uint32_t> after = proc_listing();
        for (std::uint32_t id : ids) {
            bool listed = before.contains(id);
            if (listed == after.contains(id) && listed != found.contains(id)) return 2;
        }
        return 0;
    });
    if (status == testing::cannot_set_up) GTEST_SKIP() << "cannot install a seccomp filter here";
    EXPECT_EQ(status, 0);
}

// With the leader check filtered and /proc unreadable, no list can be read:
// the answer is False, even for the caller itself.
TEST(ProcessExists, FalseWhenTheListCannotBeRead) {
    int status = testing::run_in_child([] {
        constexpr std::uint32_t proc_flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
        if (!testing::refuse_system_call(SYS_tgkill, ENOSYS) ||
            !testing::refuse_opening(proc_flags, EACCES) || ::open("/proc", proc_flags) >= 0) {
            return testing::cannot_set_up;
        }
        auto self = static_cast<std::uint32_t>(getpid());
        return !process_exists(self) && !proc::listed_in_proc(self) ? 0 : 1;
    });
    if (status == testing::cannot_set_up) GTEST_SKIP() << "cannot install a seccomp filter here";
    EXPECT_EQ(status, 0);
}

}  // namespace
}  // namespace velmo::platform
