// For tests that start programs: children tied to the test, the process table as /proc
// shows it, and the argument vectors that recording stand-ins write (each argument followed
// by a NUL).
#pragma once

#include <dirent.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

// Called in a forked child before it runs its program (parent: getpid() before the fork):
// the child gets SIGTERM when the test process ends, however it ends (a timeout's kill, a
// sanitizer's abort), so no server or program a test started outlives it. The signal
// follows the thread that forked, not the process: children that must live as long as the
// test are forked on its main thread.
inline void end_with_the_test(pid_t parent) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(127);  // the test ended before the tie was made
}

struct Process_Entry {
    int pid, parent, group, session;
    std::string state;  // "Z" for a zombie
};

inline std::vector<Process_Entry> read_process_table() {
    std::vector<Process_Entry> out;
    DIR* proc = opendir("/proc");
    if (!proc) return out;
    while (dirent* entry = readdir(proc)) {
        int pid = atoi(entry->d_name);
        if (pid <= 0) continue;
        std::ifstream file("/proc/" + std::string(entry->d_name) + "/stat");
        std::string stat;
        std::getline(file, stat);
        // The name may hold blanks and parentheses: the fields follow its last ')'.
        size_t close = stat.rfind(')');
        if (close == std::string::npos || close + 2 > stat.size()) continue;
        Process_Entry e = {pid, 0, 0, 0, ""};
        std::istringstream fields(stat.substr(close + 2));
        if (fields >> e.state >> e.parent >> e.group >> e.session) out.push_back(e);
    }
    closedir(proc);
    return out;
}

// A test looks only at processes it started: like-named ones may belong to another run of
// the suite or to another user on the same machine.

// The processes of a session that still run. A terminal's command leads a session of its
// own, which its children keep after the editor that started them is gone.
inline std::vector<int> live_processes_of_session(int session) {
    std::vector<int> out;
    for (const Process_Entry& e : read_process_table()) {
        if (e.session == session && e.state != "Z" && e.state != "X") out.push_back(e.pid);
    }
    return out;
}

// The running processes below the ancestor: its children, theirs, and so on.
inline std::vector<Process_Entry> live_descendants(int ancestor) {
    std::vector<Process_Entry> table = read_process_table(), out;
    std::vector<int> parents = {ancestor};
    for (size_t next = 0; next < parents.size(); next++) {
        for (const Process_Entry& e : table) {
            if (e.parent != parents[next]) continue;
            parents.push_back(e.pid);
            if (e.state != "Z" && e.state != "X") out.push_back(e);
        }
    }
    return out;
}

inline std::vector<std::string> split_at_nul(const std::string& all) {
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t end; (end = all.find('\0', start)) != std::string::npos; start = end + 1) {
        out.push_back(all.substr(start, end - start));
    }
    return out;
}

// A word for the shell that stands for exactly s, whatever it holds: scratch paths live
// under TMPDIR, which may hold blanks or quotes.
inline std::string shell_word(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

inline std::string read_whole_file(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    return content.str();
}

// A process's arguments as its command line holds them; none once it has ended.
inline std::vector<std::string> process_arguments(int pid) {
    return split_at_nul(read_whole_file("/proc/" + std::to_string(pid) + "/cmdline"));
}
