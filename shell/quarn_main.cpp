// The editor's entry point. Its command line is read from /proc/self/cmdline by start-up.

#include "shell/startup.h"

int main() { return run_editor(); }
