// Between the two sides of bench_keys: the editor's (bench_keys_editor.cpp) and the X
// side that sends the keys (bench_keys.cpp). No Xlib and no toolkit types cross it.
#pragma once

#include <stdint.h>

struct GLFWwindow;

bool bench_start_editor(int width, int height);  // the editor in this process, its window this size
GLFWwindow* bench_editor_window();
bool bench_open_file(const char* path);  // as the command line opens it, in a tab that has the keyboard
int64_t bench_file_size();
int64_t bench_offset_of_line(uint32_t line);  // lines from 1
void bench_put_cursor(int64_t offset);        // the cursor there, centred, and the frames drawn
uint64_t bench_frames_presented();
uint32_t bench_handle_key(bool press);  // main-loop iterations until a sent press (or release) is handled and the loop would wait
void bench_stop_editor();
