// System information from fixture machines (a "/proc" and an os-release under a scratch
// root, written from a table) and from this machine, where only what every machine
// guarantees is checked.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "shell/system_info.h"
#include "tests/shell/shell_test_support.h"

namespace {

const char* const CPUINFO_TWO_PROCESSORS =
    "processor\t: 0\nmodel name\t: Test CPU\nsiblings\t: 8\ncore id\t\t: 0\ncpu cores\t: 4\nflags\t\t: fpu\n\n"
    "processor\t: 1\nsiblings\t: 99\ncpu cores\t: 99\n";

}  // namespace

TEST(SystemInfo, FixtureMachines) {
    const std::string long_name(2048, 'n');
    struct Case {
        const char* name;
        const char* cpuinfo;  // null: no such file
        const char* meminfo;
        std::string os_release;
        const char* os_release_path;
        u16 physical, logical;
        u64 ram;
        std::string os_name;
    };
    const Case cases[] = {
        {"a typical machine", CPUINFO_TWO_PROCESSORS, "MemTotal:       16318480 kB\nMemFree: 1 kB\n",
         "NAME=\"Debian\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nID=debian\n", "usr/lib/os-release", 4, 8,
         16318480ull * 1024, "Debian GNU/Linux 12 (bookworm)"},
        {"no cpu cores line", "processor : 0\nsiblings : 2\n", "MemTotal: 2 kB\n", "", "usr/lib/os-release", 0, 2, 2048, ""},
        {"blanks around keys and a bare number", "  cpu cores\t:  6 \nsiblings:12\n", "MemTotal:2\n", "", "usr/lib/os-release",
         6, 12, 2, ""},
        {"a name longer than its buffer", "", "", "PRETTY_NAME=\"" + long_name + "\"\n", "usr/lib/os-release", 0, 0, 0,
         long_name.substr(0, 1024)},
        {"an unquoted name", "", "", "  PRETTY_NAME=Plain Linux 1\n", "usr/lib/os-release", 0, 0, 0, "Plain Linux 1"},
        {"a quote that does not close on its line", "", "", "PRETTY_NAME=\"Half\nID=x\"\n", "usr/lib/os-release", 0, 0, 0,
         "Half"},
        {"os-release only in /etc", "", "", "PRETTY_NAME='Etc Linux'\n", "etc/os-release", 0, 0, 0, "Etc Linux"},
        {"nothing to read", nullptr, nullptr, "", nullptr, 0, 0, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string root = make_scratch_directory();
        ASSERT_FALSE(root.empty());
        if (c.cpuinfo) write_test_file(root + "/proc/cpuinfo", c.cpuinfo);
        if (c.meminfo) write_test_file(root + "/proc/meminfo", c.meminfo);
        if (c.os_release_path) write_test_file(root + "/" + c.os_release_path, c.os_release);

        Computer_Info info;
        memset(&info, 0xAB, sizeof(info));
        u64 used = tmp_get_used();
        os_get_computer_info_from(&info, String{(u8*)root.data(), (s64)root.size()});
        EXPECT_EQ(tmp_get_used(), used);
        EXPECT_EQ(info.isa, (u32)ISA_AMD64);
        EXPECT_EQ(info.num_physical_cores, c.physical);
        EXPECT_EQ(info.num_logical_cores, c.logical);
        EXPECT_EQ(info.usable_ram, c.ram);
        EXPECT_EQ(std::string((char*)info.os_name.data, info.os_name.count), c.os_name);
        remove_scratch_directory(root);
    }
}

// Only what every machine guarantees: under a hypervisor CPUID may name another processor
// than the kernel does, a container may show the host's memory or its own, and /proc may
// leave lines out.
TEST(SystemInfo, ThisMachine) {
    const char* first = os_get_cpu_model_c_string();
    ASSERT_NE(first, nullptr);
    std::string brand = first;
    EXPECT_FALSE(brand.empty());
    EXPECT_LE(brand.size(), 48u) << "three leaves of 16 octets";
    if (!brand.empty()) {
        EXPECT_NE(brand.front(), ' ') << "[" << brand << "]";
        EXPECT_NE(brand.back(), ' ') << "[" << brand << "]";
    }
    for (char c : brand) EXPECT_TRUE(c >= 0x20 && c < 0x7F) << "[" << brand << "] holds " << (int)(u8)c;
    EXPECT_EQ(std::string(os_get_cpu_model_c_string()), brand) << "the same on every call";

    Computer_Info info;
    os_get_computer_info(&info);
    EXPECT_EQ(info.isa, (u32)ISA_AMD64);
    // The rest of the line after a key at its start, quotes and blanks dropped; "" when none.
    auto value_of = [](const char* path, const std::string& key) {
        std::ifstream file(path);
        for (std::string line; std::getline(file, line);) {
            size_t at = line.find_first_not_of(" \t");
            if (at == std::string::npos || line.compare(at, key.size(), key) != 0) continue;
            std::string value;
            for (char c : line.substr(at + key.size())) {
                if (c != '"' && c != '\'' && c != ' ' && c != '\t') value += c;
            }
            return value;
        }
        return std::string();
    };
    if (!value_of("/proc/meminfo", "MemTotal:").empty()) {
        EXPECT_GT(info.usable_ram, 0u);
    }
    if (info.num_physical_cores) {
        EXPECT_GE(info.num_logical_cores, info.num_physical_cores);
    }
    const char* release = access("/usr/lib/os-release", R_OK) == 0 ? "/usr/lib/os-release" : "/etc/os-release";
    if (!value_of(release, "PRETTY_NAME=").empty()) {
        EXPECT_GT(info.os_name.count, 0);
    }

    Computer_Info again;
    os_get_computer_info(&again);
    EXPECT_EQ(again.num_physical_cores, info.num_physical_cores);
    EXPECT_EQ(again.num_logical_cores, info.num_logical_cores);
    EXPECT_EQ(std::string((char*)again.os_name.data, again.os_name.count),
              std::string((char*)info.os_name.data, info.os_name.count));
}

TEST(SystemInfo, InstructionSetNames) {
    struct Case {
        u64 code;
        const char* text;
    };
    static const Case cases[] = {{2, "AMD64"}, {4, "x86"}, {8, "ARM"}, {16, "ARM64"}, {32, "IA64"}, {0, "unknown"}, {3, "unknown"}};
    for (const Case& c : cases) EXPECT_STREQ(os_get_cpu_isa_c_string(c.code), c.text);
}
