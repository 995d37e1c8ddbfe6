// Another program holding the history: a python3 child process keeps an exclusive
// transaction open on the file until release(). For the tests of the window's recording.
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>
#include <string>

namespace quavella::test {

class HistoryLocker {
public:
    /// Returns once the child holds the lock. A history (write-ahead logged) can still
    /// be read meanwhile; a file not set up as one (rollback journal) cannot.
    explicit HistoryLocker(const std::filesystem::path& file) {
        static const char* const kScript =
            "import sqlite3, sys\n"
            "c = sqlite3.connect(sys.argv[1], isolation_level=None, timeout=10)\n"
            "c.execute('BEGIN EXCLUSIVE')\n"
            "sys.stdout.write('locked\\n'); sys.stdout.flush()\n"
            "sys.stdin.read()\n"
            "c.execute('ROLLBACK')\n";
        int to_child[2];
        int from_child[2];
        if (::pipe2(to_child, O_CLOEXEC) != 0 || ::pipe2(from_child, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe");
        const std::string name = file.string();
        pid_ = ::fork();
        if (pid_ < 0) throw std::runtime_error("fork");
        if (pid_ == 0) {
            ::dup2(to_child[0], 0);
            ::dup2(from_child[1], 1);
            ::execl("/usr/bin/python3", "python3", "-c", kScript, name.c_str(),
                    static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(to_child[0]);
        ::close(from_child[1]);
        to_child_ = to_child[1];
        std::string said;
        char c = 0;
        while (said.find('\n') == std::string::npos && ::read(from_child[0], &c, 1) == 1) said += c;
        ::close(from_child[0]);
        if (said != "locked\n") {
            release();
            throw std::runtime_error("the locking child did not lock " + name);
        }
    }
    ~HistoryLocker() { release(); }
    HistoryLocker(const HistoryLocker&) = delete;
    HistoryLocker& operator=(const HistoryLocker&) = delete;

    /// Ends the transaction and the child; returns once the lock is gone.
    void release() {
        if (to_child_ < 0) return;
        ::close(to_child_);
        to_child_ = -1;
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }

private:
    pid_t pid_ = -1;
    int to_child_ = -1;
};

}  // namespace quavella::test
