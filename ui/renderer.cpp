// The instanced-quad renderer: the shaders, the one-time OpenGL set-up, the frame's quad and
// scissor arrays, text laid out into glyph quads, and the single draw call per frame.
// Scissors are tested per fragment in the shader, so clipping never splits the batch.

#include "ui/renderer.h"
#include "foundation/log.h"
#include "ui/gl_functions.h"
#include "ui/text.h"
#include "ui/window.h"

#define GLFW_INCLUDE_NONE
#include <GLFW/glfw3.h>
#include <math.h>
#include <stddef.h>
#include <string.h>

Renderer_Info renderer_info;
Gl_State gl_state;
Dynamic_Array renderer_quad_instances = {nullptr, sizeof(Quad_Instance)};
Dynamic_Array renderer_scissors = {nullptr, sizeof(Scissor_Entry)};
u64 renderer_frames_presented;
b8 renderer_screen_is_stale = true;
u32 renderer_font_map_version;

// The quads of the frame on the screen: a frame that would draw the same is not drawn.
static Dynamic_Array presented_quads = {nullptr, sizeof(Quad_Instance)};
static u32 presented_font_map_version;
static u32 presented_width, presented_height;

// Position and texture coordinate of the unit quad's corners, drawn as a triangle strip.
static const f32 QUAD_VERTICES[16] = {
    -1, -1, 0, 0,
     1, -1, 1, 0,
    -1,  1, 0, 1,
     1,  1, 1, 1,
};

// A quad's colour is the same over all its pixels, so its sRGB form is worked out once per
// vertex here rather than once per pixel.
static const char* VERTEX_SHADER = R"(#version 450 core
layout(location = 0) in vec2 vertex_position;
layout(location = 1) in vec2 vertex_uvs;
layout(location = 2) in vec2 position;
layout(location = 3) in vec2 scale;
layout(location = 4) in vec4 colour;
layout(location = 5) in vec4 texture_coords;
layout(location = 6) in vec4 scissors;
layout(location = 7) in vec2 rt_dimensions;
layout(location = 8) in uint flags;

out vec2 uv;
flat out vec4 glyph_rectangle;
flat out vec4 clip;
flat out vec4 tint;
flat out uint quad_flags;

vec3 linear_to_srgb(vec3 l) {
    vec3 low = l * 12.92;
    vec3 high = 1.055 * pow(l, vec3(1.0 / 2.4)) - 0.055;
    return mix(high, low, vec3(lessThanEqual(l, vec3(0.0031308))));
}

void main() {
    vec2 pixel = position + scale * vertex_position;
    gl_Position = vec4(pixel / rt_dimensions * 2.0 - 1.0, 0.0, 1.0);
    uv = vertex_uvs;
    glyph_rectangle = texture_coords;
    clip = scissors;
    tint = vec4(linear_to_srgb(max(colour.rgb, vec3(0.0))), colour.a);
    quad_flags = flags;
}
)";

static const char* PIXEL_SHADER = R"(#version 450 core
in vec2 uv;
flat in vec4 glyph_rectangle;
flat in vec4 clip;
flat in vec4 tint;
flat in uint quad_flags;

uniform sampler2D font_map;
out vec4 pixel;

void main() {
    // Strictly inside: a fragment centred on the rectangle's edge belongs to its neighbour.
    // Outside, the pixel keeps what is under it, as a transparent one would.
    bool inside = gl_FragCoord.x > clip.x && gl_FragCoord.x < clip.z &&
                  gl_FragCoord.y > clip.w && gl_FragCoord.y < clip.y;
    if (!inside) discard;

    pixel = tint;
    if ((quad_flags & 1u) != 0u) {
        // Packer rows count down from the map's top, texture y counts up from its bottom,
        // and a glyph's bitmap is uploaded top row first: the flips meet here. The map has
        // no smaller levels, so level 0 is what any sampling would read.
        vec2 at = mix(glyph_rectangle.xy, glyph_rectangle.zw, uv);
        at.y = 1.0 - at.y;
        pixel.a *= textureLod(font_map, at, 0.0).r;
    }
}
)";

//~ Set-up

// A font map of that side whose texels are not yet written: each glyph goes in with the
// one-texel frame of zeros that linear filtering reads around it, and nothing else is ever
// read, so no texel is touched before a glyph needs it.
static u32 make_font_map(u32 side) {
    u32 map = 0;
    gl.CreateTextures(GL_TEXTURE_2D, 1, &map);
    gl.BindTexture(GL_TEXTURE_2D, map);
    gl.TexImage2D(GL_TEXTURE_2D, 0, GL_R8, (GLsizei)side, (GLsizei)side, 0, GL_RED, GL_UNSIGNED_BYTE, nullptr);
    gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    renderer_font_map_version++;
    return map;
}

static u32 compile_shader(GLenum kind, const char* source, const char* name) {
    GLuint shader = gl.CreateShader(kind);
    gl.ShaderSource(shader, 1, &source, nullptr);
    gl.CompileShader(shader);
    GLint compiled = GL_FALSE;
    gl.GetShaderiv(shader, GL_COMPILE_STATUS, &compiled);
    if (compiled != GL_TRUE) {
        char message[1024] = {};
        gl.GetShaderInfoLog(shader, sizeof(message), nullptr, message);
        add_log(nullptr, LOG_ERROR, "OpenGL: Failed to compile %s shader with error:\n%s", name, message);
        gl.DeleteShader(shader);
        return 0;
    }
    return shader;
}

static void bind_float_attribute(u32 location, s32 components, u64 offset) {
    gl.EnableVertexAttribArray(location);
    gl.VertexAttribPointer(location, components, GL_FLOAT, GL_FALSE, sizeof(Quad_Instance), (const void*)offset);
    gl.VertexAttribDivisor(location, 1);
}

b8 init_renderer(Window_State* w, u32 width, u32 height) {
    add_log(nullptr, LOG_GRAPHICS, "OpenGL version: %s", (const char*)gl.GetString(GL_VERSION));
    renderer_info.window = w->handle;
    renderer_info.width = width;
    renderer_info.height = height;

    u32 vertex_shader = compile_shader(GL_VERTEX_SHADER, VERTEX_SHADER, "vertex");
    if (!vertex_shader) return false;
    u32 pixel_shader = compile_shader(GL_FRAGMENT_SHADER, PIXEL_SHADER, "pixel");
    if (!pixel_shader) {
        gl.DeleteShader(vertex_shader);
        return false;
    }
    gl_state.program = gl.CreateProgram();
    gl.AttachShader(gl_state.program, vertex_shader);
    gl.AttachShader(gl_state.program, pixel_shader);
    gl.LinkProgram(gl_state.program);
    gl.DeleteShader(vertex_shader);
    gl.DeleteShader(pixel_shader);
    GLint linked = GL_FALSE;
    gl.GetProgramiv(gl_state.program, GL_LINK_STATUS, &linked);
    if (linked != GL_TRUE) {
        char message[1024] = {};
        gl.GetProgramInfoLog(gl_state.program, sizeof(message), nullptr, message);
        add_log(nullptr, LOG_ERROR, "OpenGL: glLinkProgram() failed with the following error:\n%s", message);
        return false;
    }
    gl.UseProgram(gl_state.program);

    gl.GenVertexArrays(1, &gl_state.vertex_array);
    gl.BindVertexArray(gl_state.vertex_array);
    gl.GenBuffers(1, &gl_state.quad_vertex_buffer);
    gl.GenBuffers(1, &gl_state.instance_buffer);
    gl.BindBuffer(GL_ARRAY_BUFFER, gl_state.quad_vertex_buffer);
    gl.BufferData(GL_ARRAY_BUFFER, sizeof(QUAD_VERTICES), QUAD_VERTICES, GL_STATIC_DRAW);
    gl.EnableVertexAttribArray(0);
    gl.VertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, 16, (const void*)0);
    gl.EnableVertexAttribArray(1);
    gl.VertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, 16, (const void*)8);

    // The vertex array keeps these bindings, so a frame only uploads the instances.
    gl.BindBuffer(GL_ARRAY_BUFFER, gl_state.instance_buffer);
    bind_float_attribute(2, 2, offsetof(Quad_Instance, position));
    bind_float_attribute(3, 2, offsetof(Quad_Instance, scale));
    bind_float_attribute(4, 4, offsetof(Quad_Instance, colour));
    bind_float_attribute(5, 4, offsetof(Quad_Instance, texture_coords));
    bind_float_attribute(6, 4, offsetof(Quad_Instance, scissors));
    bind_float_attribute(7, 2, offsetof(Quad_Instance, rt_dimensions));
    gl.EnableVertexAttribArray(8);
    gl.VertexAttribIPointer(8, 1, GL_UNSIGNED_INT, sizeof(Quad_Instance), (const void*)offsetof(Quad_Instance, flags));
    gl.VertexAttribDivisor(8, 1);

    gl.Enable(GL_BLEND);
    gl.BlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    gl.ActiveTexture(GL_TEXTURE0);

    // The font map starts small and grows as glyphs fill it: memory is touched as it is needed.
    gl_state.font_map = make_font_map(glyph_packer.side);
    gl.Uniform1i(gl.GetUniformLocation(gl_state.program, "font_map"), 0);

    resize_render_target(width, height);

    add_log(nullptr, LOG_GRAPHICS, "Initialised OpenGL.");
    return true;
}

void resize_render_target(u32 width, u32 height) {
    renderer_info.width = width;
    renderer_info.height = height;
    if (gl_state.program) gl.Viewport(0, 0, (GLsizei)width, (GLsizei)height);
}

void renderer_upload_glyph_to_font_map(u8* bitmap, u32 width, u32 height, u32 x, u32 y) {
    if (!gl_state.font_map || x == 0 || y == 0) return;
    // The glyph in its frame of zeros, which whatever lay there before gives way to.
    u64 saved = tmp_get_used();
    u32 framed_width = width + 2, framed_height = height + 2;
    u8* framed = tmp_allocate((u64)framed_width * framed_height);
    if (!framed) return;
    memset(framed, 0, (u64)framed_width * framed_height);
    for (u32 row = 0; row < height; row++) memcpy(framed + (u64)(row + 1) * framed_width + 1, bitmap + (u64)row * width, width);
    gl.BindTexture(GL_TEXTURE_2D, gl_state.font_map);
    gl.PixelStorei(GL_UNPACK_ALIGNMENT, 1);
    gl.TexSubImage2D(GL_TEXTURE_2D, 0, (GLint)(x - 1), (GLint)(glyph_packer.side - (y + height + 1)), (GLsizei)framed_width,
                     (GLsizei)framed_height, GL_RED, GL_UNSIGNED_BYTE, framed);
    tmp_set_used(saved);
    renderer_font_map_version++;
}

b8 renderer_grow_font_map(u32 old_side, u32 new_side) {
    if (!gl_state.font_map) return true;  // before init_renderer there are no texels to keep
    u32 map = make_font_map(new_side);
    if (!map) return false;
    // Packer rows count from the map's top and texture rows from its bottom: the old map
    // goes to the new one's top-left corner.
    gl.CopyImageSubData(gl_state.font_map, GL_TEXTURE_2D, 0, 0, 0, 0, map, GL_TEXTURE_2D, 0, 0,
                        (GLint)(new_side - old_side), 0, (GLsizei)old_side, (GLsizei)old_side, 1);
    gl.DeleteTextures(1, &gl_state.font_map);
    gl_state.font_map = map;
    return true;
}

void renderer_follow_font_map_side(u32 old_side, u32 new_side) {
    // Glyph quads this frame laid out already: a power of two apart, the scaled fractions
    // are exact.
    f32 scale = (f32)old_side / (f32)new_side;
    Quad_Instance* q = (Quad_Instance*)renderer_quad_instances.data;
    for (u32 i = 0; i < renderer_quad_instances.count; i++) {
        if (!(q[i].flags & QUAD_INSTANCE_GLYPH)) continue;
        q[i].texture_coords = v4{q[i].texture_coords.x * scale, q[i].texture_coords.y * scale,
                                 q[i].texture_coords.z * scale, q[i].texture_coords.w * scale};
    }
}

//~ Quads and scissors

static v4 whole_target_scissors() {
    // Up to the far edges: the strict test in the shader then keeps the last row and column.
    return v4{0, (f32)renderer_info.height, (f32)renderer_info.width, 0};
}

void prepare_frame() {
    renderer_quad_instances.count = 0;
    renderer_scissors.count = 0;
    // Every quad reads the last scissor entry, so the list never starts empty.
    Scissor_Entry* whole = (Scissor_Entry*)dynamic_array_add_fast(&renderer_scissors);
    if (whole) *whole = Scissor_Entry{0, whole_target_scissors()};
}

static v4 current_scissors() {
    if (!renderer_scissors.count) return whole_target_scissors();
    return ((Scissor_Entry*)renderer_scissors.data)[renderer_scissors.count - 1].rectangle;
}

Quad_Instance* renderer_draw_quad(u32 flags, v2 top_left, v2 size, Rgba colour, v4 texture_coords) {
    Quad_Instance* quad = (Quad_Instance*)dynamic_array_add_fast(&renderer_quad_instances);
    if (!quad) return nullptr;
    quad->position = v2{top_left.x + size.x / 2, (f32)renderer_info.height - (top_left.y + size.y / 2)};
    quad->scale = v2{size.x / 2, size.y / 2};
    quad->colour = colour;
    quad->texture_coords = texture_coords;
    quad->scissors = current_scissors();
    quad->rt_dimensions = v2{(f32)renderer_info.width, (f32)renderer_info.height};
    quad->flags = flags;
    return quad;
}

void renderer_set_scissors(v2 top_left, v2 bottom_right) {
    f32 height = (f32)renderer_info.height;
    v4 rectangle = {top_left.x, height - top_left.y, bottom_right.x, height - bottom_right.y};
    if (renderer_scissors.count) {
        v4 last = current_scissors();
        if (last.x == rectangle.x && last.y == rectangle.y && last.z == rectangle.z && last.w == rectangle.w) return;
    }
    Scissor_Entry* entry = (Scissor_Entry*)dynamic_array_add_fast(&renderer_scissors);
    if (entry) *entry = Scissor_Entry{renderer_quad_instances.count, rectangle};
}

v4 combine_scissors(v2 a_top_left, v2 a_bottom_right, v2 b_top_left, v2 b_bottom_right) {
    return v4{fmaxf(a_top_left.x, b_top_left.x), fmaxf(a_top_left.y, b_top_left.y),
              fminf(a_bottom_right.x, b_bottom_right.x), fminf(a_bottom_right.y, b_bottom_right.y)};
}

static v2 whole_target_bottom_right() { return v2{(f32)renderer_info.width, (f32)renderer_info.height}; }

void draw_quad(v2 position, v2 size, Rgba colour) {
    draw_quad_scissored(position, size, colour, v2{0, 0}, whole_target_bottom_right());
}

void draw_quad_scissored(v2 position, v2 size, Rgba colour, v2 scissor_top_left, v2 scissor_bottom_right) {
    renderer_set_scissors(scissor_top_left, scissor_bottom_right);
    renderer_draw_quad(0, position, size, colour, v4{});
}

void draw_glyph_scissored(Glyph* glyph, v2 top_left, Rgba colour, v2 scissor_top_left, v2 scissor_bottom_right) {
    renderer_set_scissors(scissor_top_left, scissor_bottom_right);
    renderer_draw_quad(QUAD_INSTANCE_GLYPH, top_left, v2{glyph->width, glyph->height}, colour, glyph->texture_coords);
}

//~ Text

void draw_text(u8* text, u64 count, Font_Pool* pool, u32 flags, f32 x, f32 y, Rgba colour) {
    draw_text_scissored(text, count, pool, flags, x, y, colour, v2{0, 0}, whole_target_bottom_right());
}

void draw_text_scissored(u8* text, u64 count, Font_Pool* pool, u32 flags, f32 x, f32 y, Rgba colour,
                         v2 scissor_top_left, v2 scissor_bottom_right) {
    if (y > scissor_bottom_right.y || scissor_top_left.y > y + (f32)pool->pixel_size) return;

    if (flags & DRAW_TEXT_RIGHT) x -= get_text_width(text, count, pool, DRAW_TEXT_TAB_WIDTH);
    if (flags & DRAW_TEXT_RIGHT_OF_ADVANCE) {
        x -= get_text_advance(text, count, pool, DRAW_TEXT_TAB_WIDTH);
    } else if (flags & DRAW_TEXT_CENTRE_X) {
        x -= get_text_width(text, count, pool, DRAW_TEXT_TAB_WIDTH) / 2;
    } else if (flags & DRAW_TEXT_CENTRE) {
        x -= get_text_width(text, count, pool, DRAW_TEXT_TAB_WIDTH) / 2;
        y -= (f32)pool->pixel_size / 2;
    }

    // y is the line's top; glyph offsets are measured from the baseline, one ascent lower.
    f32 baseline = floorf(y) + floorf(pool->ascent);
    Text_Iterator it;
    init_text_iterator(&it, text, count, pool, DRAW_TEXT_TAB_WIDTH);
    while (text_iterator_get_next(&it)) {
        Glyph* glyph = it.current_glyph;
        if (!glyph) continue;
        // Kerning moves the pen, as measuring does: the pair's space holds for the rest.
        x += it.kerning;
        f32 top = floorf(baseline + glyph->y_offset);
        if (top + glyph->height >= scissor_top_left.y && top <= scissor_bottom_right.y && glyph->width > 0) {
            f32 left = floorf(floorf(x) + glyph->left_bearing);
            draw_glyph_scissored(glyph, v2{left, top}, colour, scissor_top_left, scissor_bottom_right);
        }
        x += it.advance;
    }
}

//~ Frame

// Whether the frame's quads and the font map are those of the frame on the screen; if not,
// the frame is kept as the one on the screen.
static b8 frame_is_on_screen() {
    u64 size = (u64)renderer_quad_instances.count * sizeof(Quad_Instance);
    b8 same = !renderer_screen_is_stale && presented_font_map_version == renderer_font_map_version &&
              presented_width == renderer_info.width && presented_height == renderer_info.height &&
              presented_quads.count == renderer_quad_instances.count &&
              (size == 0 || memcmp(presented_quads.data, renderer_quad_instances.data, size) == 0);
    if (same) return true;
    presented_quads.count = 0;
    // Without memory for the copy the next frame is drawn whatever it holds.
    if (size && dynamic_array_add_fast_multiple(&presented_quads, renderer_quad_instances.count)) {
        memcpy(presented_quads.data, renderer_quad_instances.data, size);
        renderer_screen_is_stale = false;
    } else {
        renderer_screen_is_stale = size != 0;
    }
    presented_font_map_version = renderer_font_map_version;
    presented_width = renderer_info.width;
    presented_height = renderer_info.height;
    return false;
}

static f32 linear_to_srgb(f32 l) {
    if (l <= 0) return 0;
    return l <= 0.0031308f ? l * 12.92f : 1.055f * powf(l, 1.0f / 2.4f) - 0.055f;
}

// A first quad that is opaque, plain and unclipped and covers the whole target (the
// background) is the colour the frame is cleared to, not a quad: the software driver
// spends as much on shading it as on all the rest of the frame.
static Rgba get_background_colour(u32* skipped) {
    *skipped = 0;
    Rgba black = {0, 0, 0, 1};
    if (renderer_quad_instances.count == 0) return black;
    Quad_Instance* q = (Quad_Instance*)renderer_quad_instances.data;
    f32 w = (f32)renderer_info.width, h = (f32)renderer_info.height;
    v4 whole = whole_target_scissors();
    b8 covers = q->position.x - q->scale.x <= 0 && q->position.x + q->scale.x >= w && q->position.y - q->scale.y <= 0 &&
                q->position.y + q->scale.y >= h;
    b8 unclipped = q->scissors.x <= 0 && q->scissors.w <= 0 && q->scissors.z >= whole.z && q->scissors.y >= whole.y;
    if (q->flags != 0 || q->colour.a < 1 || !covers || !unclipped) return black;
    *skipped = 1;
    return Rgba{linear_to_srgb(q->colour.r), linear_to_srgb(q->colour.g), linear_to_srgb(q->colour.b), 1};
}

b8 swap_buffers(bool vsync) {
    if (frame_is_on_screen()) return false;
    u32 skipped;
    Rgba clear = get_background_colour(&skipped);
    gl.ClearColor(clear.r, clear.g, clear.b, clear.a);
    gl.Clear(GL_COLOR_BUFFER_BIT);
    gl.UseProgram(gl_state.program);
    gl.BindVertexArray(gl_state.vertex_array);
    gl.BindTexture(GL_TEXTURE_2D, gl_state.font_map);
    gl.BindBuffer(GL_ARRAY_BUFFER, gl_state.instance_buffer);
    u32 count = renderer_quad_instances.count - skipped;
    Quad_Instance* first = (Quad_Instance*)renderer_quad_instances.data + skipped;
    gl.BufferData(GL_ARRAY_BUFFER, (GLsizeiptr)count * (GLsizeiptr)sizeof(Quad_Instance), first, GL_DYNAMIC_DRAW);
    gl.DrawArraysInstanced(GL_TRIANGLE_STRIP, 0, 4, (GLsizei)count);
    glfwSwapInterval(vsync ? 1 : 0);
    glfwSwapBuffers(renderer_info.window);
    renderer_frames_presented++;
    return true;
}

void copy_rgba_texture(u32* destination, u32* source, u32 pixels) {
    for (u32 i = 0; i < pixels; i++) destination[i] = source[i];
}

void clear_rgba_texture(u32* destination, u32 rgba, u32 pixels) {
    for (u32 i = 0; i < pixels; i++) destination[i] = rgba;
}
