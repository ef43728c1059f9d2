// Resident memory of a process as the kernel reports it, in MB: now and at its peak.
#pragma once

#include <stdio.h>
#include <sys/types.h>

#include <string>

// The pid 0 is this process.
inline void process_resident_mb(pid_t pid, double* now, double* peak) {
    *now = *peak = 0;
    std::string path = pid ? "/proc/" + std::to_string(pid) + "/status" : "/proc/self/status";
    FILE* f = fopen(path.c_str(), "r");
    if (!f) return;
    char line[256];
    while (fgets(line, sizeof(line), f)) {
        long kb = 0;
        if (sscanf(line, "VmRSS: %ld kB", &kb) == 1) *now = kb / 1024.0;
        if (sscanf(line, "VmHWM: %ld kB", &kb) == 1) *peak = kb / 1024.0;
    }
    fclose(f);
}
