#include <gtest/gtest.h>

#include "compiler_test_helpers.h"

static const char OUTSIDE_ANY_FILE[] = "made by the compiler";

struct Capture_Case {
    const char* name;
    std::string text;
    u32 line;
    s64 line_start;    // offsets into text; -1 points outside any file
    s64 marked_start;
    u64 marked_length;
    // expected
    u32 expected_line;
    std::string expected_captured;
    u32 expected_column;
    u32 expected_marked;
};

TEST(CompileErrors, CaptureTable) {
    std::string long_line(10000, 'x');
    std::string many_lines;
    for (int i = 0; i < 2000; i++) many_lines += "line\n";
    // A window that would start inside a two-octet character moves past it.
    std::string wide(3000, 'a');
    wide += "\xc3\xa9" + std::string(4000, 'b');
    std::string accents(101, 'a');
    for (int i = 0; i < 3000; i++) accents += "\xc3\xa9";

    const Capture_Case cases[] = {
        {"first line", "abc def\nxyz", 1, 0, 4, 3, 1, "abc def", 4, 3},
        {"last line without a newline", "a\nlast", 2, 2, 2, 4, 2, "last", 0, 4},
        {"CR LF", "one\r\ntwo\r\nthree", 2, 5, 5, 3, 2, "two", 0, 3},
        {"lone CR", "one\rtwo", 1, 0, 0, 3, 1, "one", 0, 3},
        {"three-line range", "x = {\n  a;\n};\nrest", 1, 0, 4, 8, 1, "x = {\n  a;\n}", 4, 8},
        {"marked start before its line", "first\nsecond", 2, 6, 2, 3, 2, "rst\nsecond", 0, 3},
        {"marked range past the end is cut", "abc", 1, 0, 1, 50, 1, "abc", 1, 2},
        {"token made by the compiler", "abc", 1, -1, -1, 3, 0, "", 0, 0},
        {"line longer than the buffer", long_line, 1, 0, 6000, 5, 1, long_line.substr(4976, 4096), 1024, 5},
        {"range longer than the buffer", many_lines, 1, 0, 0, 9000, 1, many_lines.substr(0, 4096), 0, 4096},
        {"window moves to a character boundary", wide, 1, 0, 4025, 2, 1, wide.substr(3002), 1023, 2},
        {"window ends on a character boundary", accents, 1, 0, 50, 1, 1, accents.substr(0, 4095), 50, 1},
    };
    for (const Capture_Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(reset_compiler());
        Source_File* file = add_test_source(c.text, "dir/case.8", false);
        u8* line_start = c.line_start < 0 ? (u8*)OUTSIDE_ANY_FILE : file->text + c.line_start;
        u8* marked = c.marked_start < 0 ? (u8*)OUTSIDE_ANY_FILE : file->text + c.marked_start;
        print_error_on_trace(Trace{file->index, c.line, line_start, marked, c.marked_length}, "at %s", c.name);

        Compile_Error* error = get_compile_error(0);
        ASSERT_NE(error, nullptr);
        EXPECT_EQ(error->line, c.expected_line);
        EXPECT_EQ(captured_text(error), c.expected_captured);
        EXPECT_EQ(error->column, c.expected_column);
        EXPECT_EQ(error->marked_length, c.expected_marked);
        EXPECT_EQ(std::string((char*)error->path, error->path_length), c.expected_line ? "dir/case.8" : "");
        EXPECT_EQ(std::string((char*)error->message), std::string("at ") + c.name);
        EXPECT_EQ(error->message_length, strlen((char*)error->message));
    }
}

TEST(CompileErrors, FileIndexOutsideTheLoadedFilesIsUnlocated) {
    ASSERT_TRUE(reset_compiler());
    std::string text = "abc";
    Source_File* file = add_test_source(text, "a.8", false);
    print_error_on_trace(Trace{file->index + 1, 1, file->text, file->text, 1}, "x");
    Compile_Error* error = get_compile_error(0);
    EXPECT_EQ(error->line, 0u);
    EXPECT_EQ(error->captured_length, 0u);
    EXPECT_EQ(error->path_length, 0u);
}

TEST(CompileErrors, LongTextsAreCutToTheirBuffers) {
    ASSERT_TRUE(reset_compiler());
    // The path keeps its end; the message is cut at a character boundary and stays terminated.
    std::string path = std::string(5000, 'p') + "/name.8";
    std::string text = "a";
    Source_File* file = add_test_source(text, path.c_str(), false);
    std::string message(4094, 'm');
    message += "\xe2\x86\x92 tail";
    print_error_on_trace(Trace{file->index, 1, file->text, file->text, 1}, "%s", message.c_str());

    Compile_Error* error = get_compile_error(0);
    EXPECT_EQ(error->path_length, 4096u);
    EXPECT_EQ(std::string((char*)error->path, error->path_length), path.substr(path.size() - 4096));
    EXPECT_EQ(error->message_length, 4094u);
    EXPECT_EQ(error->message[4094], 0);
}

TEST(CompileErrors, ReportsKeepTheirOrderAndTheListDoubles) {
    ASSERT_TRUE(reset_compiler());
    dynamic_array_free(&compile_errors);
    print_error("first %d", 1);
    EXPECT_EQ(compile_errors.capacity, 1u);
    std::string text = "x y";
    Source_File* file = add_test_source(text);
    print_error_on_token(token_at(file, 1), "second at '%s'", token_to_c_string(token_at(file, 1)));
    EXPECT_EQ(compile_errors.capacity, 2u);
    EXPECT_EQ(compile_error_messages(), (std::vector<std::string>{"first 1", "second at 'y'"}));
    EXPECT_EQ(get_compile_error(0)->line, 0u);
    EXPECT_EQ(get_compile_error(1)->line, 1u);
    EXPECT_EQ(get_compile_error(1)->column, 2u);
}

TEST(CompileErrors, InstructionEndCheck) {
    struct Case { const char* text; u32 token; bool ok; const char* message; };
    const Case cases[] = {
        {"a;", 0, true, nullptr},
        {"a b;", 0, false, "Expected a ';' after 'a' but got 'b' instead."},
        {"x = last", 2, false, "Expected a ';' after 'last'."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        ASSERT_TRUE(reset_compiler());
        std::string text = c.text;
        Source_File* file = add_test_source(text);
        EXPECT_EQ(check_for_instruction_end_after(token_at(file, c.token)), c.ok);
        if (c.ok) {
            EXPECT_EQ(compile_errors.count, 0u);
        } else {
            ASSERT_EQ(compile_errors.count, 1u);
            EXPECT_STREQ((char*)get_compile_error(0)->message, c.message);
            EXPECT_EQ(get_compile_error(0)->column, (u32)(token_at(file, c.token)->text - file->text));
        }
    }
}

TEST(CompileErrors, CopiedTextAndMarks) {
    ASSERT_TRUE(reset_compiler());
    std::string text = "\tx := {\r\n\tcaf\xc3\xa9 y;\r\n}\n";
    Source_File* file = add_test_source(text, "m.8", false);
    // From the "{" on line 1 to the "y" on line 2.
    u8* start = file->text + 6;
    u8* end = file->text + 17;
    print_error_on_trace(Trace{file->index, 1, file->text, start, (u64)(end - start)}, "Two lines.");
    Compile_Error* error = get_compile_error(0);

    String copied = compile_error_to_text(error, false);
    EXPECT_EQ(std::string((char*)copied.data, copied.count), "m.8:1\n\n\tx := {\r\n\tcaf\xc3\xa9 y\n\nTwo lines.");
    String marked = compile_error_to_text(error, true);
    EXPECT_EQ(std::string((char*)marked.data, marked.count),
              "m.8:1\n\n\tx := {\n\t     ^^\n\tcaf\xc3\xa9 y\n^^^^^^^\n\nTwo lines.");

    print_error("No place.");
    String unlocated = compile_error_to_text(get_compile_error(1), true);
    EXPECT_EQ(std::string((char*)unlocated.data, unlocated.count), ":0\n\n\n\nNo place.");
}
