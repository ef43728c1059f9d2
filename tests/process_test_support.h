// For tests that start programs: the process table as /proc shows it, and the argument
// vectors that recording stand-ins write (each argument followed by a NUL).
#pragma once

#include <dirent.h>
#include <stdlib.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

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

inline std::vector<std::string> split_at_nul(const std::string& all) {
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t end; (end = all.find('\0', start)) != std::string::npos; start = end + 1) {
        out.push_back(all.substr(start, end - start));
    }
    return out;
}

inline std::string read_whole_file(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    return content.str();
}
