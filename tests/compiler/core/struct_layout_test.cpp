#include <gtest/gtest.h>

#include <stddef.h>

#include "compiler_test_helpers.h"

// Each struct is declared twice, in the extension language and in C++; the compiler's
// offsets, sizes and alignments must be C's. Groups become anonymous members, #using a
// struct member, an inline array a C array.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpedantic"
struct Cpp_Padded { u8 a; u32 b; u8 c; };
struct Cpp_With_Union { u16 tag; union { u8 small; u64 big; }; };
struct Cpp_Inline { u8 flag; u16 three[3]; struct { void* data; s64 count; } list; u8 tail; };
struct Cpp_Grouped { u8 a; struct { u64 b; u8 c; }; u8 d; union { u32 e; struct { u8 f; u16 g; }; }; };
struct Cpp_Base { u16 x; u32 y; };
struct Cpp_Derived { u8 id; Cpp_Base base; void* link; };
struct Cpp_Conditional { u8 always; u16 second; u8 first; u8 last; };
struct Cpp_Nested_Union { u8 a; union { struct { u8 b; u64 c; }; u16 d[5]; }; f32 e; };
struct Cpp_Array_Of_Structs { u8 a; Cpp_Base items[3]; u8 b; };
struct Cpp_Tail { u64 a; u8 b; };
struct Cpp_String_And_Float { u8 a; struct { u8* data; s64 count; } name; f64 b; f32 c; };
struct Cpp_Small_Union { u8 a; union { u8 b; u16 c; }; u8 d; };
#pragma GCC diagnostic pop

static const char* LAYOUT_DECLARATIONS =
    "$Padded: #struct = { a: u8; b: u32; c: u8; };\n"
    "$With_Union: #struct = { tag: u16; #union { small: u8; big: u64; }; };\n"
    "$Inline: #struct = { flag: u8; three: [3] u16; list: [] s32; tail: u8; };\n"
    "$Grouped: #struct = { a: u8; #struct { b: u64; c: u8; }; d: u8; #union { e: u32; #struct { f: u8; g: u16; }; }; };\n"
    "$Base: #struct = { x: u16; y: u32; };\n"
    "$Link: #struct = { next: @Link; depth: s32; };\n"
    "$Derived: #struct = { id: u8; #using base: Base; #using link: @Link; };\n"
    "$Conditional: #struct = { always: u8; #if 0 { never: u64; } else if 1 { second: u16; } else { third: u32; }\n"
    "                          #if 1 { first: u8; } last: u8; };\n"
    "$Nested_Union: #struct = { a: u8; #union { #struct { b: u8; c: u64; } d: [5] u16; } e: f32; };\n"
    "$Array_Of_Structs: #struct = { a: u8; items: [3] Base; b: u8; };\n"
    "$Tail: #struct = { a: u64; b: u8; };\n"
    "$String_And_Float: #struct = { a: u8; name: String; b: f64; c: f32; };\n"
    "$Small_Union: #struct = { a: u8; #union { b: u8; c: u16; } d: u8; };\n";

struct Member_Case {
    const char* member;
    size_t offset;
};

struct Layout_Case {
    const char* name;
    size_t size;
    size_t alignment;
    std::vector<Member_Case> members;
};

#define MEMBER(type, name) {#name, offsetof(type, name)}
#define LAYOUT(name, type, ...) {name, sizeof(type), alignof(type), {__VA_ARGS__}}

TEST(StructLayout, MatchesCxx) {
    ASSERT_TRUE(reset_with_support_types());
    std::string text = LAYOUT_DECLARATIONS;
    ASSERT_TRUE(declare_test_source(text)) << compile_error_messages()[0];

    const Layout_Case cases[] = {
        LAYOUT("Padded", Cpp_Padded, MEMBER(Cpp_Padded, a), MEMBER(Cpp_Padded, b), MEMBER(Cpp_Padded, c)),
        LAYOUT("With_Union", Cpp_With_Union, MEMBER(Cpp_With_Union, tag), MEMBER(Cpp_With_Union, small),
               MEMBER(Cpp_With_Union, big)),
        LAYOUT("Inline", Cpp_Inline, MEMBER(Cpp_Inline, flag), MEMBER(Cpp_Inline, three), MEMBER(Cpp_Inline, list),
               MEMBER(Cpp_Inline, tail)),
        LAYOUT("Grouped", Cpp_Grouped, MEMBER(Cpp_Grouped, a), MEMBER(Cpp_Grouped, b), MEMBER(Cpp_Grouped, c),
               MEMBER(Cpp_Grouped, d), MEMBER(Cpp_Grouped, e), MEMBER(Cpp_Grouped, f), MEMBER(Cpp_Grouped, g)),
        LAYOUT("Derived", Cpp_Derived, MEMBER(Cpp_Derived, id), MEMBER(Cpp_Derived, base), MEMBER(Cpp_Derived, link),
               {"x", offsetof(Cpp_Derived, base) + offsetof(Cpp_Base, x)},
               {"y", offsetof(Cpp_Derived, base) + offsetof(Cpp_Base, y)}),
        LAYOUT("Conditional", Cpp_Conditional, MEMBER(Cpp_Conditional, always), MEMBER(Cpp_Conditional, second),
               MEMBER(Cpp_Conditional, first), MEMBER(Cpp_Conditional, last)),
        LAYOUT("Nested_Union", Cpp_Nested_Union, MEMBER(Cpp_Nested_Union, a), MEMBER(Cpp_Nested_Union, b),
               MEMBER(Cpp_Nested_Union, c), MEMBER(Cpp_Nested_Union, d), MEMBER(Cpp_Nested_Union, e)),
        LAYOUT("Array_Of_Structs", Cpp_Array_Of_Structs, MEMBER(Cpp_Array_Of_Structs, a),
               MEMBER(Cpp_Array_Of_Structs, items), MEMBER(Cpp_Array_Of_Structs, b)),
        LAYOUT("Tail", Cpp_Tail, MEMBER(Cpp_Tail, a), MEMBER(Cpp_Tail, b)),
        LAYOUT("String_And_Float", Cpp_String_And_Float, MEMBER(Cpp_String_And_Float, a), MEMBER(Cpp_String_And_Float, name),
               MEMBER(Cpp_String_And_Float, b), MEMBER(Cpp_String_And_Float, c)),
        LAYOUT("Small_Union", Cpp_Small_Union, MEMBER(Cpp_Small_Union, a), MEMBER(Cpp_Small_Union, b),
               MEMBER(Cpp_Small_Union, c), MEMBER(Cpp_Small_Union, d)),
    };
    for (const Layout_Case& c : cases) {
        SCOPED_TRACE(c.name);
        Identifier* type = find_global(c.name);
        ASSERT_NE(type, nullptr);
        EXPECT_EQ(type->size, c.size);
        EXPECT_EQ(type->alignment, c.alignment);
        for (const Member_Case& m : c.members) {
            SCOPED_TRACE(m.member);
            Identifier* member = get_struct_member_from_string(type, string_from_c(m.member));
            ASSERT_NE(member, nullptr);
            EXPECT_EQ(member->member_offset, m.offset);
        }
    }
    // Inline arrays are their elements; the dynamic array is its record.
    Identifier* three = get_struct_member_from_string(find_global("Inline"), STR("three"));
    EXPECT_EQ(three->size, 6u);
    EXPECT_EQ(three->element_count, 3u);
    EXPECT_TRUE(three->flags & IDENTIFIER_INLINE_ARRAY_MEMBER);
    EXPECT_EQ(text_of(type_to_string(three->type)), "@ u16");
    EXPECT_EQ(get_struct_member_from_string(find_global("Array_Of_Structs"), STR("items"))->size, sizeof(Cpp_Base) * 3);
    // Through an address a member has no offset of its own.
    Identifier* link_x = get_struct_member_from_string(find_global("Derived"), STR("x"));
    EXPECT_TRUE(link_x->flags & IDENTIFIER_USING_MEMBER);
    EXPECT_FALSE(link_x->flags & IDENTIFIER_USING_THROUGH_ADDRESS);
    Identifier* depth = get_struct_member_from_string(find_global("Derived"), STR("depth"));
    EXPECT_TRUE(depth->flags & IDENTIFIER_USING_THROUGH_ADDRESS);
    EXPECT_EQ(depth->member_offset, 0u);
    EXPECT_EQ(compile_errors.count, 0u);
}
