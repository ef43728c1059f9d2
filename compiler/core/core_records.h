// Every record of the compiler core, declared once, with the bits its fields hold and the
// global state. The parser, the bytecode generator and the AMD64 code generator all build
// on these, so each record's size is pinned: the pool geometry and the carve of the
// compiler's region (core_budgets.h) are computed from them.
#pragma once

#include "foundation/types.h"
#include "foundation/memory.h"
#include "foundation/strings.h"
#include "compiler/core/core_budgets.h"
#include "compiler/core/token_kinds.h"

struct Token;
struct Scope;
struct Identifier;
typedef Identifier Sub_Program;  // a sub-program's identifier, where its signature is meant

//~ Located text

// A located range of source text, passed by value.
struct Trace {
    u32 file_index;  // into the state's source files
    u32 line;        // counted from 1
    u8* line_start;  // first byte of that line
    u8* text_start;  // first byte of the range
    u64 length;
};
static_assert(sizeof(Trace) == 32);

struct Token {
    Token* next;    // the following token of the same file; null for the last
    u8* text;       // in the file's buffer; a string literal's starts after its quote
    u64 length;
    Trace location; // file, line, line start, and the range a report on this token marks
    u64 value;      // operator bits; for '(' '[' '{' the closing Token*; for ':' the ';' Token*
    u8 priority;    // binding level of a binary operator
    u64 kind;       // one Token_Kind bit
    u64 reserved;   // the pool's element is 88 octets
};
static_assert(sizeof(Token) == 88);

//~ Registers

enum Register_Storage : u8 {
    REGISTER_CONSTANT_DATA = 1,
    REGISTER_TYPE_DATA     = 2,
    REGISTER_GLOBAL_DATA   = 3,
    REGISTER_LOCAL         = 4,
    REGISTER_CALL_DATA     = 5,
    REGISTER_VIEW          = 6,
};

// Names a row of a register table; stays valid while the tables grow.
struct Register_Id {
    Scope* owner;  // the scope whose local table holds the row; null for every other table
    u32 index;
    u8 table;      // Register_Storage of the table (1 and 2 share one)
    u8 kind;       // the register's own storage: 6 for a view
    u8 zero[2];
};
static_assert(sizeof(Register_Id) == 16);

inline constexpr Register_Id INVALID_REGISTER_ID = {0, 0xFFFFFFFFu, 0, 0, {0, 0}};

// Allocation hints of a local register.
#define HINT_MEMORY                 0x1
#define HINT_INTEGER                0x2
#define HINT_FLOAT                  0x4
#define HINT_STAY_ALIVE             0x8
#define HINT_USE_A_MACHINE_REGISTER 0x6

#define REGISTER_ARGUMENT_BLOCK        0x8   // a call's argument block
#define REGISTER_OWNED_BY_IDENTIFIER   0x10  // a named variable's; without it a temporary

#define MACHINE_CLASS_INTEGER 1
#define MACHINE_CLASS_FLOAT   2

// Where a call-data register's scalar value travels instead of its slot: a sub-program's
// result comes back in RAX or XMM0.
#define RETURN_REGISTER_NONE 0
#define RETURN_REGISTER_RAX  1
#define RETURN_REGISTER_XMM0 2

struct Register {
    u8 kind;                 // Register_Storage
    u8 flags;
    u8 placed;               // set once the bytecode generator placed it
    u8 hints;                // locals only
    u32 size;
    u32 alignment;           // locals and globals
    u32 last_call;
    Register_Id base;        // views: the register this one is a part of
    u64 view_offset;         // views: offset inside the base
    u8* data;                // staged octets of constant, type and global data (and their views)
    u64 data_offset;         // offset in its image area, or a local's stack offset
    u8 machine_class;        // MACHINE_CLASS_*
    u8 machine_number;
    u8 in_machine_register;
    u8 return_register;      // call data: RETURN_REGISTER_*, on the slot or any view of it
    Scope* owner;            // the scope of a local or global; the given owner of call data
    Scope* sub_program_scope; // call data: the body of the sub-program whose block this is
    Scope* loop_scope;       // the outermost loop, below the owner, that uses it
    u32 use_count;
    u32 first_use;
    u32 last_use;
};
static_assert(sizeof(Register) == 104);

// A pointer stored in constant or global data, to be rebased when the image loads. The
// records are copied into the image, so their size and order are fixed.
struct Relocation {
    Register_Id where;   // a pointer-sized view inside constant or global data
    Register_Id target;  // where the pointer points
    u8 where_area;       // the table byte of where
    u8 unused[7];
};
static_assert(sizeof(Relocation) == 40);

//~ Values and constants

#define CONSTANT_STRING         0x40000ull
#define CONSTANT_UNSIGNED       0x80000ull   // also booleans and non-negative untyped literals
#define CONSTANT_SIGNED         0x100000ull  // also addresses
#define CONSTANT_REAL           0x200000ull  // an f64 in the data word
#define CONSTANT_TYPE_INFO      0x400000ull  // octets in constant data, the type in the further type
#define CONSTANT_ARRAY_LITERAL  0x800000ull
#define CONSTANT_CODE           0x1000000ull
#define CONSTANT_TYPED          0x2000000ull // the type field is valid
#define CONSTANT_COMPANION      0x4000000ull // the companion word is set
#define CONSTANT_INTEGER        0x180000ull
#define CONSTANT_NUMBER         0x380000ull
#define CONSTANT_TYPED_UNSIGNED 0x2080000ull
#define CONSTANT_TYPED_SIGNED   0x2100000ull
#define CONSTANT_TYPED_REAL     0x2200000ull
#define CONSTANT_TYPED_TYPE_INFO 0x2400000ull
#define CONSTANT_TYPED_CODE     0x3000000ull

struct Constant {
    u64 mask;                   // CONSTANT_* bits; an untyped literal's is its token kind
    Register_Id register_id;    // a constant held in constant data
    u32 companion;
    u32 size;                   // octets; a string's length
    u64 data;                   // integer, f64 bits, text pointer, type or code token
    u64 length;                 // a string's length
    Register_Id text_register;  // a string's text in constant data
    Identifier* further_type;   // read for CONSTANT_TYPE_INFO
    Identifier* type;           // null for an untyped literal
};
static_assert(sizeof(Constant) == 80);

// Value kind bits.
#define VALUE_REGISTER          0x1
#define VALUE_CONSTANT          0x2
#define VALUE_INDIRECT          0x4   // the register holds the value's address
#define VALUE_FRESH             0x8   // a temporary made for this result
#define VALUE_NEGATED           0x10  // a test negated by '!' in a condition
#define VALUE_INLINE_RETURN     0x20  // a value listed as returned from an inlined body
#define VALUE_BOOLEAN           0x40
#define VALUE_INTEGER_AS_POINTER 0x80
#define VALUE_FRESH_REGISTER    0x9
#define VALUE_FRESH_BOOLEAN     0x49

struct Value_Dynamic {
    Identifier* type;
    Register_Id register_id;
};

struct Value {
    Identifier* inline_parameter;  // this inline parameter bound to a constant, or a part of it; else null
    union {
        Value_Dynamic dynamic;
        Constant constant;
    };
    Trace source;
    u8 kind;    // 0 after a failure
    b8 from_parameter;  // a constant computed from inline parameters bound to constants
};
static_assert(sizeof(Value) == 128);

//~ Identifiers and types

// Kind bits of an identifier's flags word, and the identifier bits beside them.
#define IDENTIFIER_DECLARED              0x1ull
#define IDENTIFIER_CONSTANT              0x2ull
#define IDENTIFIER_NO_INITIAL_VALUE      0x4ull  // declared with "= ?"
#define TYPE_ENUM                        0x8ull
#define TYPE_ENUM_FLAGS                  0x10ull
#define TYPE_STRUCT                      0x20ull
#define TYPE_ARRAY                       0x40ull
#define TYPE_FIXED_SIZE_ARRAY            0x80ull
#define IDENTIFIER_STRUCT_MEMBER         0x200ull
#define TYPE_SUB_PROGRAM                 0x400ull
#define TYPE_UNSIGNED                    0x800ull
#define TYPE_SIGNED                      0x1000ull
#define TYPE_FLOAT                       0x2000ull
#define TYPE_VOID                        0x4000ull
#define TYPE_STRING                      0x8000ull
#define TYPE_TYPE                        0x10000ull
#define TYPE_BOOLEAN                     0x20000ull
#define IDENTIFIER_FOREIGN               0x40000ull
#define IDENTIFIER_INLINE                0x80000ull
#define IDENTIFIER_IN_FOREIGN_LIST       0x100000ull
#define IDENTIFIER_IN_SUB_PROGRAM_LIST   0x200000ull
#define TYPE_POLYMORPHIC                 0x400000ull
#define TYPE_CODE                        0x800000ull
#define IDENTIFIER_USING_MEMBER          0x1000000ull
#define IDENTIFIER_USING_THROUGH_ADDRESS 0x2000000ull
#define IDENTIFIER_CARRIES_USING         0x4000000ull
#define IDENTIFIER_PENDING               0x8000000ull   // recorded by the preparse, not parsed
#define IDENTIFIER_BEING_PARSED          0x10000000ull
#define IDENTIFIER_DECLARATION_FAILED    0x20000000ull  // its first-use parse failed
#define SUB_PROGRAM_SCALAR_RETURN        0x40000000ull
#define SUB_PROGRAM_NO_CONTEXT           0x80000000ull  // one bit with IDENTIFIER_IMPORTED
#define IDENTIFIER_IMPORTED              0x80000000ull
#define SUB_PROGRAM_CALL_LOCATION        0x200000000ull
#define SUB_PROGRAM_C_CALL               0x400000000ull
#define PARAMETER_NOT_COPIED             0x800000000ull
#define PARAMETER_FILLED_IMPLICITLY      0x1000000000ull
#define PARAMETER_CONTEXT                0x2000000000ull
#define PARAMETER_CHANGED_BY_BODY        0x4000000000ull  // an inline parameter its body writes or takes the address of
#define IDENTIFIER_INLINE_ARRAY_MEMBER   0x8000000000ull
#define IDENTIFIER_UNION_ALTERNATIVE     0x10000000000ull  // in a union's second or later alternative: takes no default

#define TYPE_INTEGER  0x21800ull  // boolean, signed or unsigned
#define TYPE_NUMBER   0x23800ull  // those and floating point

#define TYPE_CHAIN_MAX_LENGTH 8   // address levels of one type
#define TYPE_NESTING_MAX_DEPTH 64 // a type parsed inside a type (instances, arrays); bounds the stack

// The list an identifier is added to.
enum Identifier_Kind : u8 {
    IDENTIFIER_KIND_CONSTANT              = 1,  // also types, sub-programs, enum values
    IDENTIFIER_KIND_VARIABLE              = 2,  // also struct members
    IDENTIFIER_KIND_POLYMORPHIC_PARAMETER = 4,
    IDENTIFIER_KIND_PARAMETER             = 8,
};

// What the global preparse recorded for a declaration it did not parse.
enum Declaration_Kind : u8 {
    DECLARATION_NONE        = 0,
    DECLARATION_STRUCT      = 1,
    DECLARATION_ENUM        = 2,
    DECLARATION_SUB_PROGRAM = 3,
    DECLARATION_VARIABLE    = 4,  // or a constant
};

struct Identifier {
    Identifier* next;             // the next of the same list
    String name;
    Identifier* type;
    Identifier* second_type;
    Identifier* self;
    Identifier* leaf_type;
    Scope* scope;                 // the scope whose list holds it
    u32 size;                     // of a type, or of a struct member
    u32 alignment;
    u32 member_offset;            // of a struct member
    u32 element_count;            // of an inline array member
    u32 use_count;                // raised atomically by each lookup that finds a variable
    u8 pointer_depth;
    u8 declaration_kind;          // Declaration_Kind of a pending declaration
    u64 flags;
    Identifier* element_type;     // an array's element; a signature's return type; an enum's base
    Scope* member_scope;          // members, enum values, or a signature's parameters
    Scope* body_scope;            // a sub-program's body
    Identifier* polymorphic_origin;
    Identifier* last_member;
    Identifier* based_on;
    Identifier* as_member;        // a struct's #as member
    Identifier* using_through;    // a member brought in by #using: the member it comes through
    Value constant_value;         // a constant's value; a member's or parameter's default
    Register_Id register_id;      // where a variable lives; INVALID_REGISTER_ID when made
    u64 import_hash;              // name hash of an #import sub-program
    u64 bytecode_start;           // octet offset of a sub-program's first bytecode instruction
    Trace declaration;
    Token* pending_type_first;    // the preparse's record: type tokens
    Token* pending_type_end;
    Token* pending_value_first;   // and value tokens, ends exclusive
    Token* pending_value_end;
    u32 call_data_size;           // a signature's parameter block
    u32 call_data_alignment;
    u32 return_value_offset;
    u32 call_data_offset;         // a parameter's offset in the block
    Token* return_type_first;     // kept unparsed for a polymorphic sub-program
    Token* return_type_end;
    Token* body_token;            // opening token of a body or a polymorphic struct's block
    Token* parameter_end;
    String signature_text;
    u32 sub_program_index;        // in the sub-program or foreign list
    u32 type_info_index;          // 0xFFFFFFFF when made
    void* type_info;
    Token* union_marker;          // a struct member's innermost #union; null outside one
    u32 union_alternative;        // which alternative of that union holds the member
    u8 reserved[36];
};
static_assert(sizeof(Identifier) == 512);

//~ Scopes

#define SCOPE_OWN_FRAME           0x1      // sub-program bodies and entry blocks
#define SCOPE_ENTRY_BLOCK         0x4
#define SCOPE_IN_SUB_PROGRAM      0x8      // inherited
#define SCOPE_SUB_PROGRAM_BODY    0x10     // the boundary of variable lookup
#define SCOPE_INLINED             0x20     // inherited
#define SCOPE_LOOP                0x40
#define SCOPE_STRUCT_MEMBERS      0x80
#define SCOPE_SWITCH_CASE         0x100    // always inherited
#define SCOPE_SWITCH_FALLS_THROUGH 0x200
#define SCOPE_DEFER               0x400
#define SCOPE_DEFERS_REPLAYED     0x800
#define SCOPE_UNDER_CONSTRUCTION  0x2000
#define SCOPE_CONDITION           0x4000
#define SCOPE_ANONYMOUS_BLOCK     0x10000

#define BASIC_SUB_PROGRAM_SCOPE_FLAGS    25u    // 0x1 | 0x8 | 0x10
#define INLINED_SUB_PROGRAM_SCOPE_FLAGS  0x38u  // 0x8 | 0x10 | 0x20
#define ENTRY_BLOCK_SCOPE_FLAGS          0x5u

struct Scope {
    Scope* next;                        // in the state's list of all scopes
    Scope* parent;                      // null only for the global scope
    Sub_Program* sub_program;           // the enclosing sub-program; inherited with 0x8
    void* sub_program_context;          // inherited with it
    Scope* inline_root;                 // an inlined body: itself; inherited
    Scope* call_site_scope;             // an inlined body: the caller's scope; inherited
    Scope* iteration_scope;             // a for loop's step instructions
    Scope* defer_owner;                 // a defer block: the scope that replays it
    Identifier* owner;                  // the struct of a member scope, the sub-program of a parameter scope
    Dynamic_Array local_registers;      // Register
    Bucket_Array variables;             // the three identifier lists
    Bucket_Array constants;
    Bucket_Array parameters;
    Bucket_Array inlined_return_values; // an inlined body only
    Dynamic_Array inline_entries;       // an inlined body only, INLINE_ENTRY_SIZE each
    Trace inline_call_trace;            // an inlined body: the call; inherited
    Value inline_result;                // the inline root's result
    Bucket_Array instructions;          // the count feeds the lifetime positions
    Dynamic_Array deferred_blocks;      // DEFERRED_BLOCK_SIZE each
    Dynamic_Array loop_registers;       // Register_Id of registers kept alive to a loop's end
    u64 stack_size;                     // the frame's stack area, with room for the register saves
    u32 flags;
    u32 inline_return_count;
    u32 break_count;
    u32 first_bytecode_index;
    u32 end_bytecode_index;
    u16 integer_registers_used;         // bit n: machine register n
    u16 float_registers_used;
    u32 file_index;                     // where the block opens
    u32 line;
    u32 frame_size;                     // written by the code generator
    u32 spill_size;
    u32 prologue_start;
    u32 prologue_end;
    u32 epilogue_end;
    u32 reserved;
};
static_assert(sizeof(Scope) == 800);

//~ Intermediate instructions

enum Instruction_Kind : u8 {
    INSTRUCTION_SET_TO_ZERO              = 0,
    INSTRUCTION_COPY_CONSTANT            = 1,
    INSTRUCTION_COPY_CONSTANT_INDIRECT   = 2,
    INSTRUCTION_COPY                     = 3,
    INSTRUCTION_COPY_INDIRECT            = 4,
    INSTRUCTION_CAST                     = 5,
    INSTRUCTION_MAKE_BOOLEAN             = 6,
    INSTRUCTION_LOAD                     = 7,
    INSTRUCTION_ADDRESS                  = 8,
    INSTRUCTION_ADDRESS_INDIRECT         = 9,
    INSTRUCTION_TAKE_ADDRESS             = 10,
    INSTRUCTION_ARITHMETIC               = 11,
    INSTRUCTION_ARITHMETIC_CONSTANT      = 12,
    INSTRUCTION_COMPARE                  = 13,
    INSTRUCTION_COMPARE_CONSTANT         = 14,
    INSTRUCTION_FLOAT_COMPARE            = 15,
    INSTRUCTION_FLOAT_COMPARE_CONSTANT   = 16,
    INSTRUCTION_BLOCK_COMPARE            = 17,
    INSTRUCTION_BLOCK_COMPARE_CONSTANT   = 18,
    INSTRUCTION_TEST_FLAGS               = 19,
    INSTRUCTION_COMPARE_RESULT           = 20,
    INSTRUCTION_WHILE                    = 21,
    INSTRUCTION_FOR                      = 22,
    INSTRUCTION_IF_CHAIN                 = 23,
    INSTRUCTION_SWITCH                   = 24,
    INSTRUCTION_LOOP_JUMP                = 25,
    INSTRUCTION_CALL                     = 26,
    INSTRUCTION_END                      = 27,
    INSTRUCTION_RETURN_JUMP              = 28,
    INSTRUCTION_DEBUG_BREAK              = 29,
    INSTRUCTION_MACHINE_CODE             = 30,
    INSTRUCTION_NESTED_SCOPE             = 31,
    INSTRUCTION_SCOPE_START              = 32,
    INSTRUCTION_SCOPE_END                = 33,
};

#define INSTRUCTION_OPERANDS_SIZE 416

struct Instruction_Copy {             // kinds 1-4; compares 13-18 (left, right)
    Value destination;
    Value source;
};

struct Instruction_Cast {             // kind 5
    u8 cast_kind;
    Value destination;
    Value source;
    u8 unsigned_source;
};

struct Instruction_Address {          // kinds 7-9
    Value destination;
    Value base;
    Value index;
    u8 byte_index;                    // the index counts octets, not elements
    u32 element_size;                 // octets per step of the index, fixed when made
};

struct Instruction_Arithmetic {       // kinds 11, 12: destination is also the left operand
    u64 operator_bit;
    Value destination;
    Value source;
};

struct Instruction_Compare_Result {   // kind 20
    Value destination;
    u64 operator_bit;
    u8 unsigned_compare;
    u8 float_compare;
};

struct Instruction {
    Instruction* next;
    u8 kind;                          // Instruction_Kind
    union {
        Value value;                  // kinds 0, 6
        Instruction_Copy copy;
        Instruction_Cast cast;
        Instruction_Address address;
        Instruction_Arithmetic arithmetic;
        Instruction_Compare_Result compare_result;
        u8 operands[INSTRUCTION_OPERANDS_SIZE];  // the front end's kinds lay these out
    };
};
static_assert(sizeof(Instruction) == 432);

//~ Source files and error reports

struct Source_File {
    String path;           // as the caller gave it; not copied
    u8* text;              // the whole file, not NUL-terminated; null when empty
    u32 state;             // 1 once loaded
    u32 text_size;
    u32 buffer_size;
    u32 reserved;
    Gp_Allocation buffer;
    Bucket_Array tokens;   // on tokens_pool; the first element is the file's first token
    u32 index;             // in the state's source files: the file index of its tokens
};
static_assert(sizeof(Source_File) == 136);

#define COMPILE_ERROR_TEXT_SIZE 4096

// Self-contained: the shell draws the list after the compile's memory is reset.
struct Compile_Error {
    u32 line;              // 0 for a report without a location
    u16 path_length;
    u16 captured_length;
    u16 message_length;    // without the NUL
    u32 column;            // of the marked range in the captured text
    u32 marked_length;
    u8 path[COMPILE_ERROR_TEXT_SIZE];
    u8 captured[COMPILE_ERROR_TEXT_SIZE];
    u8 message[COMPILE_ERROR_TEXT_SIZE];  // NUL-terminated
};
static_assert(sizeof(Compile_Error) == 12308);

//~ Sections and regions

// A chain of buckets: a 16-octet header, then the data. Staged octets never move.
struct Data_Section_Bucket {
    Data_Section_Bucket* next;
    u32 used;
    u32 size;              // data octets; larger than the section's for a request of its own
};
static_assert(sizeof(Data_Section_Bucket) == DATA_SECTION_BUCKET_HEADER_SIZE);

struct Data_Section {
    Data_Section_Bucket* first;
    Data_Section_Bucket* current;
    u32 bucket_size;
    Page_Allocator allocator;  // buckets after the first
    u64 total;                 // data octets of every bucket
    const char* name;          // for the out-of-memory report
};

struct Bump_Region {
    u8* memory;
    u64 used;
    u64 size;
    const char* name;
};

//~ The compiler state

enum Basic_Type_Slot : u8 {
    BASIC_TYPE_TYPE, BASIC_TYPE_VOID, BASIC_TYPE_U8, BASIC_TYPE_B8, BASIC_TYPE_U16, BASIC_TYPE_U32,
    BASIC_TYPE_U64, BASIC_TYPE_S8, BASIC_TYPE_S16, BASIC_TYPE_S32, BASIC_TYPE_S64, BASIC_TYPE_F32,
    BASIC_TYPE_F64, BASIC_TYPE_STRING, BASIC_TYPE_ARRAY, BASIC_TYPE_FIXED_SIZE_ARRAY, BASIC_TYPE_CODE,
    BASIC_TYPE_TYPE_INFO,  // no producer yet: stays null
    BASIC_TYPE_SLOT_COUNT,
};

enum Float_Constant_Slot : u8 {
    FLOAT_CONSTANT_F32_ONE, FLOAT_CONSTANT_F32_MINUS_ONE, FLOAT_CONSTANT_F64_ONE, FLOAT_CONSTANT_F64_MINUS_ONE,
    FLOAT_CONSTANT_F32_SIGN_MASK, FLOAT_CONSTANT_F64_SIGN_MASK,
    FLOAT_CONSTANT_SLOT_COUNT,
};

#define TARGET_PLATFORM_BYTECODE 0
#define TARGET_PLATFORM_AMD64    1
#define TARGET_OS_WINDOWS        0
#define TARGET_OS_LINUX          1
#define TARGET_OS_MACOS          2

// An open-addressing table of fixed-size entries, each starting with its u64 key, which is
// never 0 (0 marks an empty slot). Its users probe it themselves; growing and placing are
// shared. Cleared by every reset.
struct Hash_Index {
    u8* entries;
    u32 entry_size;
    u32 capacity;  // a power of two, or 0
    u32 count;
    Gp_Allocation storage;
};

// The name index: the first identifier of a name in one list of one scope, so long lists
// are not walked. The key mixes the scope, the list and the name's hash.
struct Identifier_Index_Entry {
    u64 key;
    Scope* scope;
    Identifier* identifier;
    u64 list;  // the Identifier_Kind list it stands in
};

// The string index: the constant-data row that holds a string's text, found by its octets,
// so equal literals share one copy without a walk of the table. The key is the text's hash.
struct String_Text_Index_Entry {
    u64 key;
    u32 row;     // in the constant-and-type table
    u32 length;
};

struct Compiler_State {
    String base_directory;            // the executable's; the support sources lie there
    String source_directory;          // the compile driver's
    Scope* global_scope;
    Dynamic_Array source_files;       // Source_File; the index is every token's file index
    Bucket_Array all_scopes;          // in creation order
    u64 global_data_size;             // the next image offsets of global and constant data
    u64 constant_data_size;
    Scope* on_load_scope;
    Scope* events_scope;
    Scope* syntax_scope;
    Dynamic_Array sub_programs;       // Sub_Program*, each to be given bytecode
    Dynamic_Array foreign_sub_programs;
    Dynamic_Array call_list;          // CALL_LIST_ENTRY_SIZE each
    Dynamic_Array global_registers;   // Register
    Dynamic_Array constant_registers; // constant and type data
    Dynamic_Array call_data_registers;
    Dynamic_Array constant_relocations;  // Relocation, targets in constant data
    Dynamic_Array global_relocations;    // Relocation, targets in global data
    Dynamic_Array struct_relocations;    // STRUCT_RELOCATION_ENTRY_SIZE work entries
    Dynamic_Array bytecode;              // BYTECODE_INSTRUCTION_SIZE each, one fixed block
    Identifier* basic_types[BASIC_TYPE_SLOT_COUNT];
    Bucket_Array tokens;                 // tokens the compiler makes itself
    Register_Id float_constants[FLOAT_CONSTANT_SLOT_COUNT];
    u16 address_size;
    u16 address_alignment;
    u8 target_platform;
    u8 target_os;
    Hash_Index identifier_index;      // Identifier_Index_Entry
    Hash_Index string_text_index;     // String_Text_Index_Entry
    u32 type_nesting;                 // types and instances being parsed inside each other
    Dynamic_Array switch_instructions;  // Instruction* of every switch: the reset frees their arrays
};

extern Compiler_State global_compiler_state;
extern Dynamic_Array compile_errors;  // Compile_Error

extern Memory_Pool tokens_pool;
extern Memory_Pool instructions_pool;
extern Memory_Pool scopes_pool;
extern Memory_Pool identifiers_pool;
extern Memory_Pool inlined_return_values_pool;
extern Memory_Pool condition_parts_pool;
extern Memory_Pool if_chain_parts_pool;

extern Data_Section compiler_static_strings;  // names the compiler makes
extern Data_Section constant_data_section;    // staged constant data
extern Data_Section global_data_section;      // staged global data
extern Bump_Region real_strings_memory;       // decoded string literals
extern Bump_Region compiler_output_memory;    // the image being laid out

extern u8* compiler_memory;  // the carved region; null before init_compiler
