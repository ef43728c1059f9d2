// The OpenGL 4.5 core entry points the renderer calls, looked up by name in "libGL.so.1"
// at start-up, with the few types and constants they take. One table lists every entry
// point; the record of pointers and the loader's name list are both made from it.
#pragma once

#include "foundation/types.h"

typedef unsigned int GLenum;
typedef unsigned int GLuint;
typedef unsigned int GLbitfield;
typedef int GLint;
typedef int GLsizei;
typedef unsigned char GLboolean;
typedef unsigned char GLubyte;
typedef float GLfloat;
typedef char GLchar;
typedef s64 GLsizeiptr;

#define GL_FALSE                 0
#define GL_TRUE                  1
#define GL_TRIANGLE_STRIP        0x0005
#define GL_SRC_ALPHA             0x0302
#define GL_ONE_MINUS_SRC_ALPHA   0x0303
#define GL_BLEND                 0x0BE2
#define GL_UNPACK_ALIGNMENT      0x0CF5
#define GL_TEXTURE_2D            0x0DE1
#define GL_UNSIGNED_BYTE         0x1401
#define GL_UNSIGNED_INT          0x1405
#define GL_FLOAT                 0x1406
#define GL_RED                   0x1903
#define GL_VERSION               0x1F02
#define GL_LINEAR                0x2601
#define GL_TEXTURE_MAG_FILTER    0x2800
#define GL_TEXTURE_MIN_FILTER    0x2801
#define GL_TEXTURE_WRAP_S        0x2802
#define GL_TEXTURE_WRAP_T        0x2803
#define GL_REPEAT                0x2901
#define GL_R8                    0x8229
#define GL_TEXTURE0              0x84C0
#define GL_ARRAY_BUFFER          0x8892
#define GL_STATIC_DRAW           0x88E4
#define GL_DYNAMIC_DRAW          0x88E8
#define GL_FRAGMENT_SHADER       0x8B30
#define GL_VERTEX_SHADER         0x8B31
#define GL_COMPILE_STATUS        0x8B81
#define GL_LINK_STATUS           0x8B82
#define GL_COLOR_BUFFER_BIT      0x00004000

// X(return type, name without the "gl" prefix, parameter list)
#define GL_FUNCTION_LIST(X) \
    X(const GLubyte*, GetString, (GLenum name)) \
    X(void, Enable, (GLenum cap)) \
    X(void, BlendFunc, (GLenum sfactor, GLenum dfactor)) \
    X(void, Viewport, (GLint x, GLint y, GLsizei width, GLsizei height)) \
    X(void, ClearColor, (GLfloat r, GLfloat g, GLfloat b, GLfloat a)) \
    X(void, Clear, (GLbitfield mask)) \
    X(void, PixelStorei, (GLenum pname, GLint param)) \
    X(GLuint, CreateShader, (GLenum type)) \
    X(void, ShaderSource, (GLuint shader, GLsizei count, const GLchar* const* string, const GLint* length)) \
    X(void, CompileShader, (GLuint shader)) \
    X(void, GetShaderiv, (GLuint shader, GLenum pname, GLint* params)) \
    X(void, GetShaderInfoLog, (GLuint shader, GLsizei size, GLsizei* length, GLchar* log)) \
    X(void, DeleteShader, (GLuint shader)) \
    X(GLuint, CreateProgram, (void)) \
    X(void, AttachShader, (GLuint program, GLuint shader)) \
    X(void, LinkProgram, (GLuint program)) \
    X(void, GetProgramiv, (GLuint program, GLenum pname, GLint* params)) \
    X(void, GetProgramInfoLog, (GLuint program, GLsizei size, GLsizei* length, GLchar* log)) \
    X(void, UseProgram, (GLuint program)) \
    X(GLint, GetUniformLocation, (GLuint program, const GLchar* name)) \
    X(void, Uniform1i, (GLint location, GLint v0)) \
    X(void, GenVertexArrays, (GLsizei n, GLuint* arrays)) \
    X(void, BindVertexArray, (GLuint array)) \
    X(void, GenBuffers, (GLsizei n, GLuint* buffers)) \
    X(void, BindBuffer, (GLenum target, GLuint buffer)) \
    X(void, BufferData, (GLenum target, GLsizeiptr size, const void* data, GLenum usage)) \
    X(void, EnableVertexAttribArray, (GLuint index)) \
    X(void, VertexAttribPointer, (GLuint index, GLint size, GLenum type, GLboolean normalized, GLsizei stride, const void* pointer)) \
    X(void, VertexAttribIPointer, (GLuint index, GLint size, GLenum type, GLsizei stride, const void* pointer)) \
    X(void, VertexAttribDivisor, (GLuint index, GLuint divisor)) \
    X(void, DrawArraysInstanced, (GLenum mode, GLint first, GLsizei count, GLsizei instancecount)) \
    X(void, ActiveTexture, (GLenum texture)) \
    X(void, CreateTextures, (GLenum target, GLsizei n, GLuint* textures)) \
    X(void, BindTexture, (GLenum target, GLuint texture)) \
    X(void, TexParameteri, (GLenum target, GLenum pname, GLint param)) \
    X(void, TexImage2D, (GLenum target, GLint level, GLint internalformat, GLsizei width, GLsizei height, GLint border, GLenum format, GLenum type, const void* pixels)) \
    X(void, TexSubImage2D, (GLenum target, GLint level, GLint xoffset, GLint yoffset, GLsizei width, GLsizei height, GLenum format, GLenum type, const void* pixels)) \
    X(void, ClearTexImage, (GLuint texture, GLint level, GLenum format, GLenum type, const void* data)) \
    X(void, CopyImageSubData, (GLuint src, GLenum src_target, GLint src_level, GLint src_x, GLint src_y, GLint src_z, GLuint dst, GLenum dst_target, GLint dst_level, GLint dst_x, GLint dst_y, GLint dst_z, GLsizei width, GLsizei height, GLsizei depth)) \
    X(void, DeleteTextures, (GLsizei n, const GLuint* textures))

#define GL_DECLARE_POINTER(result, name, parameters) result (*name) parameters;
struct Gl_Functions {
    GL_FUNCTION_LIST(GL_DECLARE_POINTER)
};
#undef GL_DECLARE_POINTER

// Called as gl.Clear(...): the pointers are members of one record rather than globals
// named like the library's own symbols, which the dynamic linker could confuse.
extern Gl_Functions gl;

//~ gl_functions.cpp

b8 load_gl_functions();
// Fills gl from "libGL.so.1". Needs no context. False (with an error line naming the first
// missing entry point) when the library or an entry point cannot be found.
