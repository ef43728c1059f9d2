// Struct literals, T.{...} and .{...}: items set members by position or by name ("x = 1"),
// an empty item takes the member's default, '?' leaves it unwritten, one alternative of a
// union at most, and a C-style array member takes a list of its own (.[...]). Members no
// item sets get their defaults. A constant literal is written into constant data; any
// other into a register at run time.
#include <string.h>

#include "compiler/parser/parser.h"

static b8 at_end(Token* token, Token* end) { return !token || token == end; }

static b8 report(Token* token, const char* message) {
    print_error_on_token(token, "%s", message);
    return false;
}

// What one literal keeps while its items are read.
struct Struct_Literal {
    Scope* scope;
    Identifier* type;
    u8 constant;
    Register_Id record;
    Trace trace;
    Identifier** set;           // the members set so far, in temporary memory
    u32 set_count;
    Identifier** unions;        // one member of each union an item set
    u32 union_count;
};

static b8 is_set(Struct_Literal* literal, Identifier* member) {
    for (u32 i = 0; i < literal->set_count; i++) {
        if (literal->set[i] == member) return true;
    }
    return false;
}

static Identifier* get_set_union_member(Struct_Literal* literal, Identifier* member) {
    for (u32 i = 0; i < literal->union_count; i++) {
        if (literal->unions[i]->union_marker == member->union_marker) return literal->unions[i];
    }
    return 0;
}

static Identifier* first_member(Identifier* type) {
    return type->member_scope ? (Identifier*)type->member_scope->variables.first_element : 0;
}

// The members positional items go to: what #using brought in lies inside the member that
// carries it, which takes the item, so "Box.{a, b}" sets the carrier and the next member.
static Identifier* skip_brought_in(Identifier* member) {
    while (member && (member->flags & IDENTIFIER_USING_MEMBER)) member = member->next;
    return member;
}

static Identifier* first_unset_member(Struct_Literal* literal) {
    Identifier* member = skip_brought_in(first_member(literal->type));
    while (member && is_set(literal, member)) member = skip_brought_in(member->next);
    return member;
}

// The place of size octets at offset in the record, as a value of the type.
static b8 get_place(Struct_Literal* literal, u64 offset, Identifier* type, u32 size, Value* place) {
    Register_Id view = allocate_within_register(literal->record, offset, size);
    if (!register_id_is_valid(view)) return false;
    make_dynamic_value_from_register(place, view, type, literal->trace);
    return true;
}

static b8 store(Struct_Literal* literal, Value* place, Identifier* type, Value* value) {
    if (literal->constant) return copy_constant_value_data(place->dynamic.register_id, type, value);
    if (value->kind & VALUE_CONSTANT) return instruction_copy_constant(literal->scope, place, value);
    return copy_into_register(literal->scope, place, value);
}

// The type's own default at the place.
static b8 store_type_default(Struct_Literal* literal, Value* place, Identifier* type) {
    if (literal->constant) return set_constant_default_value(literal->scope, 0, place->dynamic.register_id, type);
    return set_dynamic_default_value(literal->scope, 0, place);
}

static Identifier* get_element_type(Identifier* member) { return type_to_dereference_of_type(member->type); }

static b8 store_element_defaults(Struct_Literal* literal, Identifier* member, u32 from) {
    Identifier* element = get_element_type(member);
    for (u32 i = from; i < member->element_count; i++) {
        Value place;
        if (!get_place(literal, member->member_offset + (u64)i * element->size, element, element->size, &place) ||
            !store_type_default(literal, &place, element)) {
            return false;
        }
    }
    return true;
}

static b8 store_member_default(Struct_Literal* literal, Identifier* member) {
    if (member->flags & IDENTIFIER_INLINE_ARRAY_MEMBER) return store_element_defaults(literal, member, 0);
    Identifier* type = get_resolved_type(member->type);
    Value place;
    if (!get_place(literal, member->member_offset, member->type, type->size, &place)) return false;
    if (member->constant_value.kind) return store(literal, &place, member->type, &member->constant_value);
    return store_type_default(literal, &place, member->type);
}

// ".[a, b, ...]" for a C-style array member: elements one after the other, the rest defaulted.
static b8 parse_c_style_array(Struct_Literal* literal, Identifier* member, Token* item, Token* item_end) {
    Token* open = item->next;
    if (!((item->kind & TOKEN_BINARY_OPERATOR) && item->value == OP_DOT) || at_end(open, item_end) ||
        !(open->kind & TOKEN_OPEN_BRACKET) || ((Token*)open->value)->next != item_end) {
        return report(item, "Expected an array literal.");
    }
    Token* closing = (Token*)open->value;
    Identifier* element = get_element_type(member);
    u32 written = 0;
    for (Token* token = open->next; token != closing;) {
        Token* comma = get_first_token_like_bounded(token, TOKEN_COMMA, closing);
        Token* element_end = comma ? comma : closing;
        if (written == member->element_count) {
            print_error_on_token(token == element_end ? element_end : token,
                                 "It looks like you are specifying too many items for this C-style array literal. The maximum "
                                 "is %'u.",
                                 member->element_count);
            return false;
        }
        Value place;
        if (!get_place(literal, member->member_offset + (u64)written * element->size, element, element->size, &place)) {
            return false;
        }
        if (token == element_end) {
            if (!store_type_default(literal, &place, element)) return false;
        } else {
            Value value;
            if (!parse_assignment_value(literal->scope, 0, literal->constant, element, token, element_end, &value) ||
                !cast_value_to_type(&value, literal->scope, element, &value)->kind || !store(literal, &place, element, &value)) {
                return false;
            }
        }
        written++;
        token = comma ? comma->next : closing;
    }
    return store_element_defaults(literal, member, written);
}

static b8 parse_item_value(Struct_Literal* literal, Identifier* member, Token* first, Token* end) {
    if ((first->kind & TOKEN_QUESTION_MARK) && first->next == end) return true;
    if (member->flags & IDENTIFIER_INLINE_ARRAY_MEMBER) return parse_c_style_array(literal, member, first, end);
    Identifier* type = member->type;
    Value value, place;
    return parse_assignment_value(literal->scope, 0, literal->constant, type, first, end, &value) &&
           cast_value_to_type(&value, literal->scope, type, &value)->kind &&
           get_place(literal, member->member_offset, type, get_resolved_type(type)->size, &place) &&
           store(literal, &place, type, &value);
}

static b8 is_named_item(Token* first, Token* end) {
    Token* assignment = first->next;
    return (first->kind & TOKEN_IDENTIFIER) && !at_end(assignment, end) && (assignment->kind & TOKEN_OPERATOR) &&
           assignment->value == OP_ASSIGN;
}

static b8 parse_items(Struct_Literal* literal, Token* open) {
    Token* closing = (Token*)open->value;
    Identifier* cursor = skip_brought_in(first_member(literal->type));
    b8 named = false;
    for (Token* token = open->next; token != closing;) {
        Token* comma = get_first_token_like_bounded(token, TOKEN_COMMA, closing);
        Token* item_end = comma ? comma : closing;
        Token* item = token == item_end ? item_end : token;
        if (!cursor) {
            u32 count = 0;
            for (Identifier* member = skip_brought_in(first_member(literal->type)); member; member = skip_brought_in(member->next)) {
                count++;
            }
            print_error_on_token(item, "Struct '%s' has only %u %s.", type_to_c_string(literal->type), count,
                                 count == 1 ? "member" : "members");
            return false;
        }
        Identifier* member = cursor;
        Token* value_first = token;
        if (token != item_end && is_named_item(token, item_end)) {
            member = get_struct_member_from_token(literal->type, token);
            if (!member) return false;
            if (is_set(literal, member)) {
                print_error_on_token(item, "Member '%s' has already been set.", token_to_c_string(token));
                return false;
            }
            value_first = token->next->next;
            named = true;
        }
        if (member->flags & IDENTIFIER_USING_THROUGH_ADDRESS) {
            print_error_on_token(item,
                                 "Member '%s' cannot be initialised because it was introduced by a #using directive placed on a "
                                 "member which type refers to the memory address of a struct.",
                                 to_tmp_c_string(member->name));
            return false;
        }
        Identifier* same_union = member->union_marker ? get_set_union_member(literal, member) : 0;
        if (value_first == item_end) {
            if (!same_union && !(member->flags & (IDENTIFIER_NO_INITIAL_VALUE | IDENTIFIER_CARRIES_USING)) &&
                !store_member_default(literal, member)) {
                return false;
            }
        } else {
            if (same_union && same_union->union_alternative != member->union_alternative) {
                print_error_on_token(item,
                                     "You cannot initialise struct member %s because it is part of a union and another member in "
                                     "that union has already been explicitly initialised.",
                                     to_tmp_c_string(member->name));
                return false;
            }
            if (member->union_marker && !same_union) literal->unions[literal->union_count++] = member;
            if (!parse_item_value(literal, member, value_first, item_end)) return false;
        }
        literal->set[literal->set_count++] = member;
        cursor = named ? first_unset_member(literal) : skip_brought_in(cursor->next);
        token = comma ? comma->next : closing;
    }
    return true;
}

// Every member no item set gets its default, but one declared without a value, a union's
// members once an item set one of them (of a union no item touched, the first
// alternative's), and what #using brought in through a pointer. A member carrying #using is
// written through the members it brought in, so an item that set one of those stays.
static b8 store_remaining_defaults(Struct_Literal* literal) {
    for (Identifier* member = first_member(literal->type); member; member = member->next) {
        if (is_set(literal, member) || !member->type) continue;
        if (member->flags & (IDENTIFIER_NO_INITIAL_VALUE | IDENTIFIER_CARRIES_USING | IDENTIFIER_USING_THROUGH_ADDRESS)) continue;
        if ((member->flags & IDENTIFIER_USING_MEMBER) && is_set(literal, member->using_through)) continue;
        if (member->union_marker && (get_set_union_member(literal, member) || (member->flags & IDENTIFIER_UNION_ALTERNATIVE))) {
            continue;
        }
        if (!store_member_default(literal, member)) return false;
    }
    return true;
}

b8 parse_struct_literal(Scope* scope, Identifier* type, Token* open, u8 constant, Value* out) {
    if (type->flags & TYPE_POLYMORPHIC) return report(open, "You cannot make a struct litteral from a pure polymorphic struct type.");
    Token* closing = (Token*)open->value;
    Struct_Literal literal = {};
    literal.scope = scope;
    literal.type = type;
    literal.constant = constant || !type->size;
    literal.trace = make_trace_from_tokens(open, closing);
    literal.record = literal.constant ? allocate_constant_data(type->size, type->alignment)
                                      : allocate_a_register(scope, type->size, type, type->alignment);
    if (!register_id_is_valid(literal.record)) return false;

    u64 mark = tmp_get_used();
    u32 member_count = type->member_scope ? type->member_scope->variables.count : 0;
    literal.set = (Identifier**)tmp_allocate_aligned(2 * ((u64)member_count + 1) * sizeof(Identifier*), alignof(Identifier*));
    if (!literal.set) {
        report_out_of_compiler_memory("temporary memory");
        return false;
    }
    literal.unions = literal.set + member_count + 1;
    if (!parse_items(&literal, open) || !store_remaining_defaults(&literal)) return false;
    tmp_set_used(mark);

    if (literal.constant) {
        make_constant_value_from_register(out, literal.record, type, literal.trace);
        out->constant.mask = CONSTANT_TYPED_TYPE_INFO;
        out->constant.further_type = type;
        out->kind = VALUE_CONSTANT | VALUE_FRESH;
        return true;
    }
    make_dynamic_value_from_register(out, literal.record, type, literal.trace);
    out->kind = VALUE_FRESH_REGISTER;
    return true;
}
