// The application shell: the shared state words, start-up and the command line, tabs, the
// main loop and its per-frame driver, shut-down, the file watcher, the update client and
// system information.
#pragma once

#include "editor/editor_state.h"
#include "foundation/notifications.h"
#include "shell/tabs.h"
#include "editor/editor_commands.h"
#include "shell/file_tabs.h"
#include "shell/tab_bar.h"
#include "shell/main_loop.h"
#include "shell/update_client.h"
#include "shell/system_info.h"
#include "shell/layer_calls.h"
#include "shell/frame_driver.h"
#include "shell/terminal_tabs.h"
#include "shell/file_watcher.h"
#include "shell/startup.h"
