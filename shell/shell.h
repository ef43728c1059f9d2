// The application shell: the shared state words, tabs, the main loop and shut-down, the
// update client and system information.
#pragma once

#include "shell/editor_state.h"
#include "shell/notifications.h"
#include "shell/tabs.h"
#include "shell/editor_commands.h"
#include "shell/file_tabs.h"
#include "shell/tab_bar.h"
#include "shell/main_loop.h"
#include "shell/update_client.h"
#include "shell/system_info.h"
