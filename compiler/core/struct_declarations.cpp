// Struct and enum declarations. A body is walked once: each member is parsed, then placed
// at the next multiple of its alignment (unions place every member at their start); #if
// chains pick one block, #struct and #union groups are laid out alone and then placed as
// one member, #using brings another struct's members in. Sizes add up in 64 bits, so a
// type too large for its 32-bit size is refused instead of wrapping.
#include <string.h>

#include "compiler/core/compiler_core.h"

static Identifier* get_basic_type(Basic_Type_Slot slot) { return global_compiler_state.basic_types[slot]; }

static b8 at_end(Token* token, Token* end) { return !token || token == end; }

static b8 is_plain_assignment(Token* token) { return (token->kind & TOKEN_OPERATOR) && token->value == OP_ASSIGN; }

static char* name_c_string(Identifier* identifier) { return to_tmp_c_string(identifier->name); }

// Reports at the token, or at where the range ended when there is none.
static b8 report_at(Token* token, Token* fallback, const char* format, ...) __attribute__((format(printf, 3, 4)));
static b8 report_at(Token* token, Token* fallback, const char* format, ...) {
    char message[COMPILE_ERROR_TEXT_SIZE];
    va_list arguments;
    va_start(arguments, format);
    format_into_buffer_v((u8*)message, sizeof(message), format, arguments);
    va_end(arguments);
    Token* at = token ? token : fallback;
    if (at) print_error_on_token(at, "%s", message);
    else print_error("%s", message);
    return false;
}

static char* token_text_or_end(Token* token, Token* end) {
    return at_end(token, end) ? (char*)"the end of the declaration" : token_to_c_string(token);
}

static u64 round_up(u64 value, u32 alignment) { return (value + alignment - 1) / alignment * alignment; }

static Identifier* nth_variable(Scope* scope, u32 index) {
    Identifier* member = (Identifier*)scope->variables.first_element;
    while (member && index--) member = member->next;
    return member;
}

//~ Layout

// Places a variable member into the layout: in a union at its start, else at the next
// multiple of the member's alignment.
static b8 place_member(Identifier* member, u8 mode, Struct_Layout* layout) {
    Identifier* type = member->type;
    u64 size;
    u32 alignment;
    if (member->flags & IDENTIFIER_INLINE_ARRAY_MEMBER) {
        Identifier* element = type_to_dereference_of_type(type);
        size = (u64)member->element_count * element->size;
        alignment = element->alignment;
    } else {
        size = type->size;
        alignment = type->alignment;
    }
    if (!alignment) alignment = 1;
    if (alignment > layout->alignment) layout->alignment = alignment;
    u64 offset = 0;
    if (mode & STRUCT_BODY_UNION) {
        if (size > layout->size) layout->size = size;
        member->union_alternative = layout->alternatives;
        if (layout->alternatives++) member->flags |= IDENTIFIER_UNION_ALTERNATIVE;
    } else {
        offset = round_up(layout->size, alignment);
        layout->size = offset + size;
    }
    if (offset + size > 0xFFFFFFFFull) {
        print_error_on_trace(member->declaration, "This type is too large.");
        return false;
    }
    member->member_offset = (u32)offset;
    member->size = (u32)size;
    return true;
}

// A copy of a member of the used struct, standing in this struct's member scope.
static Identifier* add_used_member(Identifier* struct_type, Identifier* used, Identifier_Kind kind, Identifier* carrier) {
    Identifier* added = add_identifier(struct_type->member_scope, used->name.data, (u64)used->name.count, kind,
                                       carrier->declaration);
    if (!added) return 0;
    Identifier copy = *used;
    copy.next = added->next;
    copy.scope = added->scope;
    copy.declaration = carrier->declaration;
    *added = copy;
    added->flags |= IDENTIFIER_USING_MEMBER;
    added->using_through = carrier;
    return added;
}

static b8 bring_in_members(Identifier* struct_type, Identifier* carrier) {
    Identifier* type = carrier->type;
    Identifier* used = 0;
    b8 through_address = type->pointer_depth == 1;
    if (!(carrier->flags & IDENTIFIER_INLINE_ARRAY_MEMBER) && type->pointer_depth <= 1 && (type->flags & TYPE_STRUCT)) {
        used = type->leaf_type ? type->leaf_type : type;
    }
    if (!used || !used->member_scope) {
        print_error_on_trace(carrier->declaration, "#using is not compatible with type '%s'. #using must be used with struct types.",
                             type_to_c_string(type));
        return false;
    }
    Scope* members = used->member_scope;
    Bucket_Array* lists[] = {&members->variables, &members->constants};
    Identifier_Kind kinds[] = {IDENTIFIER_KIND_VARIABLE, IDENTIFIER_KIND_CONSTANT};
    for (u32 list = 0; list < 2; list++) {
        for (Identifier* member = (Identifier*)lists[list]->first_element; member; member = member->next) {
            if (get_struct_member_from_string(struct_type, member->name)) {
                print_error_on_trace(carrier->declaration,
                                     "Struct '%s' has a member named '%s' but this struct also has a member with the same "
                                     "name which means you cannot use #using here.",
                                     name_c_string(struct_type), name_c_string(member));
                return false;
            }
            Identifier* added = add_used_member(struct_type, member, kinds[list], carrier);
            if (!added) return false;
            if (list == 0) {
                // Through an address a member has no offset here: it is reached through the pointer.
                if (through_address || (member->flags & IDENTIFIER_USING_THROUGH_ADDRESS)) {
                    added->flags |= IDENTIFIER_USING_THROUGH_ADDRESS;
                    if (through_address) added->member_offset = 0;
                } else {
                    added->member_offset = member->member_offset + carrier->member_offset;
                }
            }
        }
    }
    carrier->flags |= IDENTIFIER_CARRIES_USING;
    return true;
}

static b8 lay_out_members(Identifier* struct_type, Token* first, Token* end, u8 mode, Struct_Layout* layout);

// A #struct or #union group: laid out alone from 0, then placed as one member, rounded up
// to its alignment as C places a nested struct.
static b8 lay_out_group(Identifier* struct_type, Token* directive, Token* end, u8 mode, Struct_Layout* layout, Token** next) {
    b8 is_union = token_is_word(directive, STR("#union"));
    Token* block = directive->next;
    if (at_end(block, end) || !(block->kind & TOKEN_OPEN_BRACE)) {
        return report_at(directive, 0, is_union ? "Expected a block associated with this #union directive."
                                                 : "Expected a block associated with this #struct directive.");
    }
    Token* closing = (Token*)block->value;
    Scope* members = struct_type->member_scope;
    u32 first_added = members->variables.count;
    Struct_Layout group = {0, 1, 0};
    if (!lay_out_members(struct_type, block->next, closing, is_union ? STRUCT_BODY_UNION : STRUCT_BODY_GROUP, &group)) {
        return false;
    }
    u32 alternative = layout->alternatives;
    b8 later_alternative = (mode & STRUCT_BODY_UNION) && layout->alternatives++;
    u64 size = round_up(group.size, group.alignment);
    if (group.alignment > layout->alignment) layout->alignment = group.alignment;
    u64 offset = 0;
    if (mode & STRUCT_BODY_UNION) {
        if (size > layout->size) layout->size = size;
    } else {
        offset = round_up(layout->size, group.alignment);
        layout->size = offset + size;
    }
    if (offset + size > 0xFFFFFFFFull) return report_at(directive, 0, "This type is too large.");
    for (Identifier* member = nth_variable(members, first_added); member; member = member->next) {
        if (!(member->flags & IDENTIFIER_USING_THROUGH_ADDRESS)) member->member_offset += (u32)offset;
        if (later_alternative) member->flags |= IDENTIFIER_UNION_ALTERNATIVE;
        // A member belongs to the innermost union around it, which literals check.
        if (is_union && !member->union_marker) member->union_marker = directive;
        else if ((mode & STRUCT_BODY_UNION) && !member->union_marker) member->union_alternative = alternative;
    }
    *next = closing->next;
    return true;
}

// Whether a constant condition of a struct body holds.
static b8 evaluate_condition(Identifier* struct_type, Token* first, Token* block, b8* holds) {
    Identifier* b8_type = get_basic_type(BASIC_TYPE_B8);
    Value condition;
    Scope* members = struct_type->member_scope;
    if (!parser_routines.parse_simple_statement(members, first, block, b8_type, 0, 0, 1, &condition)) {
        return false;
    }
    if (!(condition.kind & VALUE_CONSTANT)) return report_at(first, 0, "This expression does not appear to be constant.");
    if (!cast_constant_to_type(&condition, b8_type, &condition)->kind) return false;
    *holds = condition.constant.data != 0;
    return true;
}

// "#if c { } else if c { } else { }": the block of the first condition that holds is laid
// out as part of the body; the others are skipped unread.
static b8 lay_out_if_chain(Identifier* struct_type, Token* directive, Token* end, u8 mode, Struct_Layout* layout,
                           Token** next) {
    b8 taken = false;
    for (Token* head = directive;;) {
        Token* block = get_first_token_like_bounded(head->next, TOKEN_OPEN_BRACE, end);
        if (!block) return report_at(head, 0, "Did you forget to associate a code block with this statement?");
        if (block == head->next) return report_at(head, 0, "Did you forget to specify a condition?");
        Token* closing = (Token*)block->value;
        if (!taken) {
            b8 holds = false;
            if (!evaluate_condition(struct_type, head->next, block, &holds)) return false;
            if (holds) {
                if (!lay_out_members(struct_type, block->next, closing, mode, layout)) return false;
                taken = true;
            }
        }
        Token* after = closing->next;
        *next = after;
        if (at_end(after, end) || !token_is_word(after, STR("else"))) return true;
        Token* following = after->next;
        if (!at_end(following, end) && token_is_word(following, STR("if"))) {
            head = following;
            continue;
        }
        if (at_end(following, end) || !(following->kind & TOKEN_OPEN_BRACE)) {
            return report_at(after, 0, "else statements cannot contain a condition.");
        }
        Token* else_closing = (Token*)following->value;
        if (!taken && !lay_out_members(struct_type, following->next, else_closing, mode, layout)) return false;
        *next = else_closing->next;
        if (!at_end(*next, end) && token_is_word(*next, STR("else"))) {
            return report_at(*next, 0, "This else statement does not seem to be part of any #if statement.");
        }
        return true;
    }
}

static b8 lay_out_members(Identifier* struct_type, Token* first, Token* end, u8 mode, Struct_Layout* layout) {
    Token* as_directive = 0;
    Token* using_directive = 0;
    for (Token* token = first; !at_end(token, end);) {
        // A ';' after a group's or a condition's block is allowed.
        if (token->kind & TOKEN_SEMICOLON) {
            token = token->next;
            continue;
        }
        if (token->kind & TOKEN_DIRECTIVE) {
            if (token_is_word(token, STR("#as"))) {
                if (struct_type->as_member || as_directive) {
                    return report_at(token, 0, "An #as directive has already been used in this struct. Only one #as "
                                               "directive can be use per struct.");
                }
                as_directive = token;
                token = token->next;
                continue;
            }
            if (token_is_word(token, STR("#using"))) {
                using_directive = token;
                token = token->next;
                continue;
            }
            Token* next = 0;
            if (token_is_word(token, STR("#if"))) {
                if (!lay_out_if_chain(struct_type, token, end, mode, layout, &next)) return false;
            } else if (token_is_word(token, STR("#struct")) || token_is_word(token, STR("#union"))) {
                if (as_directive) return report_at(as_directive, 0, "#as must be used on variable, non-anonymous struct members.");
                if (using_directive) return report_at(using_directive, 0, "#using must be used on non-anonymous struct members.");
                if (!lay_out_group(struct_type, token, end, mode, layout, &next)) return false;
            } else {
                return report_at(token, 0, "Directive '%s' is unknown or not supported here.", token_to_c_string(token));
            }
            token = next;
            continue;
        }
        if (token_is_word(token, STR("else"))) {
            return report_at(token, 0, "This else statement does not seem to be part of any #if statement.");
        }
        Token* semicolon = get_first_token_like_bounded(token, TOKEN_SEMICOLON, end);
        if (!semicolon) {
            return report_at(token, 0, "In a struct you can only declare variables and constants. All declarations must end "
                                       "with a ';'.");
        }
        Identifier* member = parse_struct_member_declaration(struct_type, token, semicolon);
        if (!member) return false;
        if (member->flags & IDENTIFIER_CONSTANT) {
            if (as_directive) return report_at(as_directive, 0, "#as cannot be used on constant struct members.");
            if (using_directive) return report_at(using_directive, 0, "#using must be used on non-anonymous struct members.");
        } else {
            if (!place_member(member, mode, layout)) return false;
            if (as_directive) struct_type->as_member = member;
            if (using_directive && !bring_in_members(struct_type, member)) return false;
        }
        as_directive = 0;
        using_directive = 0;
        token = semicolon->next;
    }
    if (as_directive) return report_at(as_directive, 0, "#as must be used on variable, non-anonymous struct members.");
    if (using_directive) return report_at(using_directive, 0, "#using must be used on non-anonymous struct members.");
    return true;
}

b8 parse_struct_body(Identifier* struct_type, Token* first, Token* end, u8 mode, Struct_Layout* layout) {
    if (!lay_out_members(struct_type, first, end, mode, layout)) return false;
    if (!(mode & STRUCT_BODY_WHOLE)) return true;
    u64 size = round_up(layout->size, layout->alignment);
    if (size > 0xFFFFFFFFull) {
        print_error_on_trace(struct_type->declaration, "This type is too large.");
        return false;
    }
    struct_type->alignment = layout->alignment;
    struct_type->size = (u32)size;
    set_type_constant_value(struct_type);
    return true;
}

//~ Members

// A fixed-size array member lies inside the struct: its elements, not an array record.
static b8 make_inline_array_member(Identifier* member, b8 has_default) {
    Identifier* type = member->type;
    if (has_default) {
        print_error_on_trace(member->declaration, "For now we do not support default values for fixed arrays in structs.");
        return false;
    }
    Identifier* max_count = get_struct_member_from_string(type, STR("MAX_COUNT"));
    u64 count = max_count ? max_count->constant_value.constant.data : 0;
    Identifier* element = type->element_type;
    if (!element || count * (u64)element->size / (element->size ? element->size : 1) != count ||
        count * (u64)element->size > 0xFFFFFFFFull) {
        print_error_on_trace(member->declaration, "This type is too large.");
        return false;
    }
    member->type = type_to_memory_address_of_type(element, 1);
    member->element_count = (u32)count;
    member->flags |= IDENTIFIER_INLINE_ARRAY_MEMBER;
    return member->type != 0;
}

Identifier* parse_struct_member_declaration(Identifier* struct_type, Token* first, Token* semicolon) {
    Scope* members = struct_type->member_scope;
    Token* name = first;
    b8 constant = first->kind & TOKEN_DOLLAR;
    if (constant) name = first->next;
    if (at_end(name, semicolon) || !(name->kind & TOKEN_IDENTIFIER)) {
        report_at(at_end(name, semicolon) ? semicolon : name, first, "Expected an identifier but got '%s' instead.",
                  token_text_or_end(name, semicolon));
        return 0;
    }
    String name_text = {name->text, (s64)name->length};
    Identifier* existing = get_struct_member_from_string(struct_type, name_text);
    if (existing) {
        report_at(name, 0, (existing->flags & IDENTIFIER_USING_MEMBER)
                               ? "'%s' already exists in this struct. It was brought in by a #using directive."
                               : "'%s' already exists in this struct.",
                  token_to_c_string(name));
        return 0;
    }
    if (constant) {
        Identifier* outer = members->parent ? get_identifier(members->parent, name->text, name->length) : 0;
        if (outer && (outer->flags & IDENTIFIER_CONSTANT)) {
            report_at(name, 0, "Constant '%s' already exists out of this struct, so you cannot redeclare it locally.",
                      token_to_c_string(name));
            return 0;
        }
    }
    Token* colon = name->next;
    if (at_end(colon, semicolon) || !(colon->kind & TOKEN_COLON)) {
        report_at(name, 0, "It looks like this is not a struct member declaration. Did you forget to put a ':' after its name?");
        return 0;
    }
    Identifier* member = add_identifier(members, name->text, name->length,
                                        constant ? IDENTIFIER_KIND_CONSTANT : IDENTIFIER_KIND_VARIABLE, name->location);
    if (!member) return 0;
    member->flags |= IDENTIFIER_STRUCT_MEMBER | (constant ? IDENTIFIER_CONSTANT : 0);

    Token* after = colon->next;
    b8 has_default = false;
    if (!at_end(after, semicolon) && (after->kind & TOKEN_OPERATOR)) {
        if (!is_plain_assignment(after)) {
            report_at(after, 0, "Operator '%s' cannot be used here as this is supposed to be an assignment.",
                      token_to_c_string(after));
            return 0;
        }
        has_default = true;
        if (!parser_routines.handle_declaration_assignment(members, member, 1, 0, after, semicolon)) return 0;
    } else if (!at_end(after, semicolon) && (token_is_word(after, STR("#enum")) || token_is_word(after, STR("#enum_flags")))) {
        if (!parse_enum_declaration(members, member, after->next, token_is_word(after, STR("#enum_flags")))) return 0;
    } else if (!at_end(after, semicolon) && token_is_word(after, STR("#struct"))) {
        if (!parse_struct_declaration(members, member, after->next, semicolon)) return 0;
    } else {
        Identifier* type;
        Token* stop;
        if (!parse_type(members, &type, after, semicolon, &stop, 0, 0, 0)) return 0;
        member->type = type;
        if (!at_end(stop, semicolon)) {
            if (!is_plain_assignment(stop)) {
                report_at(stop, 0, "This is unexpected.");
                return 0;
            }
            has_default = true;
            // Refused before the value is read: it could not become inline elements.
            if (!constant && !type->pointer_depth && (type->flags & TYPE_FIXED_SIZE_ARRAY)) {
                make_inline_array_member(member, has_default);
                return 0;
            }
            if (!parser_routines.handle_declaration_assignment(members, member, 1, type, stop, semicolon)) return 0;
        } else if (constant) {
            print_error_on_token(name, "Constants must be initialised with an explicit value.");
            return 0;
        }
    }
    Identifier* type = member->type;
    if (!constant && !type) {
        report_at(name, 0, "Expected a type.");
        return 0;
    }
    // A constant takes no room; one that declares a type keeps the type's own size.
    if (!constant && !type->pointer_depth && (type->flags & TYPE_FIXED_SIZE_ARRAY)) {
        if (!make_inline_array_member(member, has_default)) return 0;
    } else if (!constant) {
        member->size = type->size;
    }
    member->flags |= IDENTIFIER_DECLARED;
    return member;
}

//~ Declarations

// "($T: Type, $N := 8)": the parameters of a polymorphic struct, in its member scope.
static b8 parse_polymorphic_parameters(Scope* members, Token* open) {
    Token* closing = (Token*)open->value;
    if (closing == open->next) return report_at(open, 0, "Did you forget to set parameters for this polymorphic struct?");
    for (Token* piece = open->next;;) {
        Token* comma = get_first_token_like_bounded(piece, TOKEN_COMMA, closing);
        Token* piece_end = comma ? comma : closing;
        if (piece == piece_end) return report_at(piece_end, 0, "Is this an extraneous ','?");
        if (!(piece->kind & TOKEN_DOLLAR)) return report_at(piece, 0, "The parameters of a polymorphic struct must be constant.");
        Token* name = piece->next;
        if (at_end(name, piece_end) || !(name->kind & TOKEN_IDENTIFIER)) {
            return report_at(at_end(name, piece_end) ? piece_end : name, 0, "Expected an identifier but got '%s' instead.",
                             token_to_c_string(at_end(name, piece_end) ? piece_end : name));
        }
        Identifier* parameter = add_identifier_with_error(members, name, IDENTIFIER_KIND_POLYMORPHIC_PARAMETER);
        if (!parameter) return false;
        parameter->flags |= IDENTIFIER_CONSTANT;
        Token* colon = name->next;
        if (at_end(colon, piece_end) || !(colon->kind & TOKEN_COLON)) {
            Token* at = at_end(colon, piece_end) ? piece_end : colon;
            return report_at(at, 0, "Expected ':' but got '%s' instead.", token_to_c_string(at));
        }
        Token* after = colon->next;
        if (at_end(after, piece_end)) {
            return report_at(name, 0, "The type of this parameter cannot be infered as no value is assigned to it.");
        }
        if (is_plain_assignment(after)) {
            if (!parser_routines.handle_declaration_assignment(members, parameter, 1, 0, after, piece_end)) {
                return false;
            }
        } else {
            Identifier* type;
            Token* stop;
            if (!parse_type(members, &type, after, piece_end, &stop, 0, 0, 0)) return false;
            if (!at_end(stop, piece_end)) return report_at(stop, 0, "This is unexpected.");
            parameter->type = type;
        }
        parameter->self = parameter->type;
        parameter->leaf_type = parameter->type;
        parameter->flags |= IDENTIFIER_DECLARED;
        if (!comma) return true;
        piece = comma->next;
    }
}

// An anonymous struct's variable or constant declared outside a struct gets its storage
// and its default value.
static b8 place_anonymous_struct_value(Scope* scope, Identifier* declared, Identifier* type) {
    if (declared->flags & IDENTIFIER_CONSTANT) {
        Register_Id id = allocate_constant_data(type->size, type->alignment);
        if (!register_id_is_valid(id)) return false;
        make_constant_value_from_register(&declared->constant_value, id, type, declared->declaration);
        return set_constant_default_value(scope, declared, id, type);
    }
    declared->register_id = allocate_a_register(scope, type->size, type, type->alignment);
    if (!register_id_is_valid(declared->register_id)) return false;
    Value variable;
    make_dynamic_value_from_register(&variable, declared->register_id, type, declared->declaration);
    return parser_routines.set_dynamic_default_value(scope, 0, &variable);
}

b8 parse_struct_declaration(Scope* scope, Identifier* declared, Token* first, Token* end) {
    b8 constant = declared->flags & IDENTIFIER_CONSTANT;
    char* name = name_c_string(declared);
    Scope* members = _add_a_scope(scope, SCOPE_STRUCT_MEMBERS, first ? make_trace_from_token(first) : declared->declaration);
    if (!members) return false;
    members->owner = declared;
    // A struct is declared once its body is laid out: until then only its address may be used.
    declared->flags &= ~IDENTIFIER_DECLARED;

    Token* token = first;
    b8 polymorphic = !at_end(token, end) && (token->kind & TOKEN_OPEN_PARENTHESIS);
    if (polymorphic) {
        if (!constant) {
            print_error_on_trace(declared->declaration,
                                 "A polymorphic struct type must be constant. Did you forget to mark '%s' as constant?", name);
            return false;
        }
        declared->flags |= TYPE_POLYMORPHIC;
        if (!parse_polymorphic_parameters(members, token)) return false;
        token = ((Token*)token->value)->next;
    }
    Identifier* type = declared;
    b8 anonymous = at_end(token, end) || !is_plain_assignment(token);
    if (!anonymous) {
        if (!constant) {
            print_error_on_trace(declared->declaration, "A struct type must be constant. Did you forget to mark '%s' as constant?",
                                 name);
            return false;
        }
        token = token->next;
    } else if (polymorphic) {
        return report_at(token, end, "Expected '%s' but got '%s' instead.", "=", token_text_or_end(token, end));
    }
    if (at_end(token, end) || !(token->kind & TOKEN_OPEN_BRACE)) {
        return report_at(at_end(token, end) ? end : token, first,
                         "The compiler expected a block that contains the struct layout but it got '%s' instead.",
                         token_text_or_end(token, end));
    }
    Token* block = token;
    Token* closing = (Token*)block->value;
    if (!at_end(closing->next, end) && !(closing->next->kind & TOKEN_SEMICOLON)) {
        return report_at(closing->next, 0, "This is unexpected.");
    }

    if (anonymous) {
        String anonymous_name = copy_to_compiler_static_strings(string_concat2("% anon struct", declared->name));
        if (!anonymous_name.data) return false;
        type = add_identifier(scope, anonymous_name.data, (u64)anonymous_name.count, IDENTIFIER_KIND_CONSTANT,
                              declared->declaration);
        if (!type) return false;
        declared->type = type;
        members->owner = type;
    }
    type->flags |= TYPE_STRUCT | IDENTIFIER_CONSTANT;
    type->type = get_basic_type(BASIC_TYPE_TYPE);
    type->self = type;
    type->leaf_type = type;
    type->member_scope = members;
    set_type_constant_value(type);

    if (polymorphic) {
        type->body_token = block;
    } else {
        Struct_Layout layout = {0, 1, 0};
        if (!parse_struct_body(type, block->next, closing, STRUCT_BODY_WHOLE, &layout)) return false;
    }
    type->flags |= IDENTIFIER_DECLARED;
    if (anonymous && !(scope->flags & SCOPE_STRUCT_MEMBERS) && !place_anonymous_struct_value(scope, declared, type)) {
        return false;
    }
    declared->flags |= IDENTIFIER_DECLARED;
    return true;
}

b8 parse_enum_declaration(Scope* scope, Identifier* declared, Token* first, u8 flags_variant) {
    char* name = name_c_string(declared);
    if (!(declared->flags & IDENTIFIER_CONSTANT)) {
        print_error_on_trace(declared->declaration, "Enums must be constants. Did you forget to mark enum '%s' as constant?", name);
        return false;
    }
    Identifier* type_type = get_basic_type(BASIC_TYPE_TYPE);
    declared->flags = (declared->flags & ~IDENTIFIER_DECLARED) | TYPE_ENUM | IDENTIFIER_CONSTANT |
                      (flags_variant ? TYPE_ENUM_FLAGS : 0);
    declared->type = type_type;
    declared->self = declared;
    declared->leaf_type = declared;

    if (!first || !(first->kind & TOKEN_IDENTIFIER)) {
        return report_at(first, 0, "Expected a type to base the enum on but got '%s' instead.", token_text_or_end(first, 0));
    }
    Identifier* base = get_identifier_with_error(scope, first, 0);
    if (!base) return false;
    base = get_resolved_type(base);
    if (base->type != type_type || base->pointer_depth || !(base->flags & TYPE_INTEGER)) {
        return report_at(first, 0, "An enum must be based on an integer type. '%s' does not appear to be an integer type.",
                         token_to_c_string(first));
    }
    declared->size = base->size;
    declared->alignment = base->alignment;
    declared->element_type = base;

    Token* token = first->next;
    if (!token || !is_plain_assignment(token)) {
        return report_at(token, first, "Expected '=' before the enum block but got '%s' instead.", token_text_or_end(token, 0));
    }
    token = token->next;
    b8 unique_values = false;
    if (token && (token->kind & TOKEN_DIRECTIVE)) {
        if (!token_is_word(token, STR("#unique_values"))) {
            return report_at(token, 0, "Directive %s is unknown or not useable in this context.", token_to_c_string(token));
        }
        unique_values = true;
        token = token->next;
    }
    if (!token || !(token->kind & TOKEN_OPEN_BRACE)) {
        return report_at(token, first, "The compiler expected a block defining enum '%s' but got '%s' instead.", name,
                         token_text_or_end(token, 0));
    }
    declared->member_scope = _add_a_scope(scope, 0, make_trace_from_token(token));
    if (!declared->member_scope) return false;
    declared->member_scope->owner = declared;
    u64 running_value = 0;
    if (!parser_routines.parse_enum_body(declared, token->next, (Token*)token->value, &running_value, flags_variant,
                                         unique_values)) {
        return false;
    }
    set_type_constant_value(declared);
    declared->flags |= IDENTIFIER_DECLARED;
    return true;
}
