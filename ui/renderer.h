// The renderer: everything on screen is a screen-aligned quad, one instance of a unit quad.
// Views append quads and scissor rectangles during a frame; swap_buffers uploads them all
// and draws them with one instanced draw call. Colours are linear; the pixel shader writes
// sRGB. Glyph quads take their alpha from the font map, one R8 texture of every glyph.
#pragma once

#include "foundation/memory.h"
#include "foundation/types.h"
#include "ui/fonts.h"
#include "ui/vectors.h"

struct Window_State;
struct GLFWwindow;

#define QUAD_INSTANCE_GLYPH 0x01

// Alignment flags of draw_text and draw_text_scissored.
#define DRAW_TEXT_CENTRE_X             2   // x is the middle of the text's width
#define DRAW_TEXT_RIGHT                4   // x is where the last glyph's ink ends
#define DRAW_TEXT_RIGHT_OF_ADVANCE     8   // x is where the advances end (after DRAW_TEXT_RIGHT)
#define DRAW_TEXT_CENTRE              16   // (x, y) is the middle of the text's width and pixel size

#define DRAW_TEXT_TAB_WIDTH 4

// One instance in the instance buffer; the vertex attributes read these offsets.
struct Quad_Instance {
    v2 position;        // centre in pixels, y upwards from the bottom
    v2 scale;           // half the width and half the height
    Rgba colour;        // linear
    v4 texture_coords;  // font-map x0, y0, x1, y1 (0 to 1)
    v4 scissors;        // framebuffer pixels: left, top, right, bottom, y upwards (top > bottom)
    v2 rt_dimensions;
    u32 flags;          // QUAD_INSTANCE_GLYPH
};
static_assert(sizeof(Quad_Instance) == 76);

struct Scissor_Entry {
    u32 first_quad;  // index of the first quad drawn with it
    v4 rectangle;    // as Quad_Instance.scissors
};

struct Renderer_Info {
    u32 width;  // render target (framebuffer) size in pixels
    u32 height;
    GLFWwindow* window;
};

struct Gl_State {
    u32 program;
    u32 quad_vertex_buffer;
    u32 instance_buffer;
    u32 vertex_array;
    u32 font_map;  // 0 until init_renderer made it
};

extern Renderer_Info renderer_info;
extern Gl_State gl_state;
extern Dynamic_Array renderer_quad_instances;  // of Quad_Instance
extern Dynamic_Array renderer_scissors;        // of Scissor_Entry
extern u64 renderer_frames_presented;          // frames swap_buffers put on the screen
extern b8 renderer_screen_is_stale;            // the next frame is drawn even when it repeats the last
extern u32 renderer_font_map_version;          // changes with every change of the font map's texels

//~ renderer.cpp

b8 init_renderer(Window_State* w, u32 width, u32 height);
// Needs the window's context current and the entry points loaded. False, logged, when a
// shader does not compile or the program does not link.

void resize_render_target(u32 width, u32 height);

void prepare_frame();
// Empties the quads and scissors (storage kept) and starts with the whole target as the
// scissor rectangle.

Quad_Instance* renderer_draw_quad(u32 flags, v2 top_left, v2 size, Rgba colour, v4 texture_coords);
// Appends a quad clipped to the current scissors. The pointer is valid until the next quad
// is drawn (the array moves when it grows); null when no memory is left.

void renderer_set_scissors(v2 top_left, v2 bottom_right);
// Window pixels, y downwards, for the quads that follow.

v4 combine_scissors(v2 a_top_left, v2 a_bottom_right, v2 b_top_left, v2 b_bottom_right);
// The intersection, as top-left x, y and bottom-right x, y.

void draw_quad(v2 position, v2 size, Rgba colour);  // clipped to the whole target
void draw_quad_scissored(v2 position, v2 size, Rgba colour, v2 scissor_top_left, v2 scissor_bottom_right);
void draw_glyph_scissored(Glyph* glyph, v2 top_left, Rgba colour, v2 scissor_top_left, v2 scissor_bottom_right);

void draw_text(u8* text, u64 count, Font_Pool* pool, u32 flags, f32 x, f32 y, Rgba colour);
void draw_text_scissored(u8* text, u64 count, Font_Pool* pool, u32 flags, f32 x, f32 y, Rgba colour,
                         v2 scissor_top_left, v2 scissor_bottom_right);
// (x, y) is the text's top-left corner (the line's top, not its baseline) unless flags say
// otherwise.

b8 swap_buffers(bool vsync);
// Clears to black, uploads the frame's quads, draws them with one call and presents the
// frame; true when it did. A frame whose quads and font map are those of the frame on the
// screen is not drawn again, unless renderer_screen_is_stale says the screen lost it.

void renderer_upload_glyph_to_font_map(u8* bitmap, u32 width, u32 height, u32 x, u32 y);
// x and y in texels from the map's top-left corner, both at least 1: the glyph goes in with
// a frame of zeros one texel wide, which is all linear filtering reads around it. Nothing
// happens before init_renderer.
b8 renderer_grow_font_map(u32 old_side, u32 new_side);
// A map of the new side with the old one's texels at its top-left corner, in place of the
// old one. False when it cannot be made.
void renderer_follow_font_map_side(u32 old_side, u32 new_side);
// The glyph quads of the frame so far take the coordinates of the grown map.

void copy_rgba_texture(u32* destination, u32* source, u32 pixels);
void clear_rgba_texture(u32* destination, u32 rgba, u32 pixels);
