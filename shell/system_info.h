// What the editor reports about the machine it runs on, in the log at start and in the
// information panel: the processor's brand text, its instruction set, the core counts, the
// usable memory and the operating system's name. Read fresh on every call.
#pragma once

#include "foundation/foundation.h"

enum Instruction_Set : u32 {
    ISA_AMD64 = 2,
    ISA_X86   = 4,
    ISA_ARM   = 8,
    ISA_ARM64 = 16,
    ISA_IA64  = 32,
};

#define OS_NAME_CAPACITY 1024
#define OS_RELEASE_MAX_SIZE 65536  // more than any os-release holds; a bigger file is cut

struct Computer_Info {
    u64 usable_ram;           // octets: MemTotal of /proc/meminfo
    u32 isa;                  // Instruction_Set: always ISA_AMD64 in this build
    u16 num_physical_cores;   // the first "cpu cores" of /proc/cpuinfo
    u16 num_logical_cores;    // the first "siblings"
    String os_name;           // PRETTY_NAME of os-release, in os_name_buffer
    u8 os_name_buffer[OS_NAME_CAPACITY];
};

//~ system_info.cpp

void os_get_computer_info(Computer_Info* info);
// Fills the record from "/proc" and "/usr/lib/os-release" ("/etc/os-release" when that is
// missing). A file that cannot be read leaves its fields 0 or empty.

void os_get_computer_info_from(Computer_Info* info, String root);
// The same with every path under root ("" for the machine itself).

char* os_get_cpu_model_c_string();
// The processor's brand text from CPUID, blanks around it cut, NUL-terminated in temporary
// memory. Without the brand leaves, the 12 octets the highest extended leaf gives.

char* os_get_cpu_isa_c_string(u64 code);
// "AMD64", "x86", "ARM", "ARM64", "IA64" or "unknown", in temporary memory.

void linux_read_whole_proc_file(Dynamic_Array* out, String path);
// Reads a file whose size the file system does not report (files under "/proc") into out,
// which the caller frees. An unopenable file leaves out empty.
