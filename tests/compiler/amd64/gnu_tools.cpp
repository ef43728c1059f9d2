#include "tests/compiler/amd64/gnu_tools.h"

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <fstream>
#include <sstream>

#include "tests/foundation/foundation_fixtures.h"
#include "tests/process_test_support.h"

static std::string hex(const u8* bytes, size_t count) {
    std::string s;
    char b[4];
    for (size_t i = 0; i < count; i++) {
        snprintf(b, sizeof(b), "%02X ", bytes[i]);
        s += b;
    }
    if (!s.empty()) s.pop_back();
    return s;
}

// Runs command in directory, whose names it uses.
static bool run_in(const std::string& directory, const std::string& command, std::string* error) {
    if (system(("cd " + shell_word(directory) + " && " + command + " 2>log").c_str()) == 0) return true;
    *error = "`" + command + "` in " + directory + " failed (is binutils installed? `make deps` installs it):\n" +
             read_whole_file(directory + "/log").substr(0, 2000);
    return false;
}

std::string compare_with_gnu_as(const std::vector<Listing_Row>& rows) {
    Scratch_Directory d = make_scratch_directory();
    if (d.path.empty()) return "no scratch directory";
    std::string source = ".intel_syntax noprefix\n";
    for (const Listing_Row& r : rows) source += r.text + "\n";
    std::ofstream(d.path + "/sweep.s") << source;
    std::string error;
    std::string assembled;
    if (run_in(d.path, "as --64 -o sweep.o sweep.s", &error) &&
        run_in(d.path, "objcopy -O binary --only-section=.text sweep.o sweep.bin", &error)) {
        assembled = read_whole_file(d.path + "/sweep.bin");
    }
    remove_scratch_directory(&d);
    if (!error.empty()) return error;

    size_t offset = 0;
    for (const Listing_Row& r : rows) {
        size_t n = r.bytes.size();
        if (offset + n > assembled.size() || memcmp(assembled.data() + offset, r.bytes.data(), n) != 0) {
            size_t shown = offset < assembled.size() ? std::min(n + 4, assembled.size() - offset) : 0;
            return "`" + r.text + "`: ours " + hex(r.bytes.data(), n) + ", as gives " +
                   hex((const u8*)assembled.data() + offset, shown) + " (at offset " + std::to_string(offset) + ")";
        }
        offset += n;
    }
    if (offset != assembled.size()) return "as produced " + std::to_string(assembled.size() - offset) + " more octets";
    return "";
}

static std::string normalise(const std::string& text) {
    std::string s;
    bool space = false;
    for (char c : text) {
        if (c == ' ' || c == '\t') {
            space = !s.empty();
            continue;
        }
        if (space) s += ' ';
        space = false;
        s += (char)tolower((unsigned char)c);
    }
    return s;
}

bool tool_could_not_run(int status, const std::string& log) {
    if (status == -1) return true;
    int signal_number = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    if (WIFEXITED(status)) {
        int code = WEXITSTATUS(status);
        if (code == 126 || code == 127) return true;  // the shell could not run it
        if (code > 128) signal_number = code - 128;   // the shell reports its child's signal so
    }
    if (signal_number == SIGKILL || signal_number == SIGTERM || signal_number == SIGINT || signal_number == SIGHUP) {
        return true;
    }
    // gcc starts cc1, as and ld itself; objdump may run out of memory.
    for (const char* words : {"cannot fork", "vfork", "Resource temporarily unavailable", "Cannot allocate memory",
                              "cannot execute", "Killed signal terminated program", "memory exhausted"}) {
        if (log.find(words) != std::string::npos) return true;
    }
    return false;
}

std::string disassemble_with_objdump(const u8* bytes, size_t count, std::vector<Disassembled_Instruction>* out,
                                     Objdump_Run* run) {
    Scratch_Directory d = make_scratch_directory();
    if (d.path.empty()) return "no scratch directory";
    std::ofstream(d.path + "/blob.bin", std::ios::binary).write((const char*)bytes, (std::streamsize)count);
    std::string error;
    std::string listing;
    std::string objdump = run ? shell_word(run->program) : "objdump";
    if (run_in(d.path, objdump + " -D -b binary -m i386:x86-64 -M intel --no-show-raw-insn blob.bin > blob.txt", &error)) {
        listing = read_whole_file(d.path + "/blob.txt");
    }
    remove_scratch_directory(&d);
    if (run) run->failed = !error.empty();
    if (!error.empty()) return error;

    // Lines look like "   1c:\tmov    eax,0x12345678"; anything after '#' is a comment.
    std::istringstream in(listing);
    std::string line;
    while (std::getline(in, line)) {
        size_t colon = line.find(":\t");
        if (colon == std::string::npos) continue;
        char* end = 0;
        size_t offset = strtoul(line.c_str(), &end, 16);
        if (end != line.c_str() + colon) continue;
        Disassembled_Instruction i = {offset, line.substr(colon + 2), ""};
        size_t hash = i.text.find('#');
        if (hash != std::string::npos) {
            i.comment = normalise(i.text.substr(hash + 1));
            i.text.resize(hash);
        }
        i.text = normalise(i.text);
        out->push_back(i);
    }
    return "";
}

std::string compare_with_objdump(const std::vector<Listing_Row>& rows) {
    std::string blob;
    for (const Listing_Row& r : rows) blob.append((const char*)r.bytes.data(), r.bytes.size());
    std::vector<Disassembled_Instruction> instructions;
    std::string error = disassemble_with_objdump((const u8*)blob.data(), blob.size(), &instructions);
    if (!error.empty()) return error;
    size_t offset = 0;
    size_t next = 0;
    for (const Listing_Row& r : rows) {
        if (next >= instructions.size() || instructions[next].offset != offset) {
            return "`" + r.text + "` (" + hex(r.bytes.data(), r.bytes.size()) + ") is not one instruction for objdump";
        }
        if (instructions[next].text != normalise(r.text)) {
            return "`" + r.text + "`: objdump reads " + hex(r.bytes.data(), r.bytes.size()) + " as `" +
                   instructions[next].text + "`";
        }
        offset += r.bytes.size();
        next++;
    }
    return "";
}
