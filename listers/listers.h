// File lister and search: listing a directory on a thread of its own, the actions on a
// chosen entry, text search in one file or a whole tree on worker threads, and the two
// panels that show them over the editor.
#pragma once

#include "listers/file_lister.h"
#include "listers/lister_actions.h"
#include "listers/search.h"
#include "listers/lister_threads.h"
#include "listers/lister_panels.h"
