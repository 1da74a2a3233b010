// tag!, email! and ref!: string kinds that differ from string! in how they
// are written (<text>, bare text, @text) and, for email!, in the path access
// to the user and host parts. Their cells are string cells (Latin-1, UCS-2 or
// UCS-4 buffers); the delimiters are not stored.
#pragma once
#include "runtime/cell.hpp"
#include <cstdint>

namespace kel {

// Push a copy of the cell (the same buffer and position) on the data stack.
Cell* tag_push(const Cell* tag);
Cell* email_push(const Cell* email);
Cell* ref_push(const Cell* ref);

// tag! form and mold: "<", the text from the position, ">".
int32_t tag_form(const Cell* value, Cell* target, bool only, bool all, bool flat, bool part,
                 int32_t budget, int32_t indent);
// email! mold: the text as it is, with no delimiters and no quotes.
int32_t email_mold(const Cell* value, Cell* target, bool only, bool all, bool flat, bool part,
                   int32_t budget, int32_t indent);
// ref! mold: "@" and the text.
int32_t ref_mold(const Cell* value, Cell* target, bool only, bool all, bool flat, bool part,
                 int32_t budget, int32_t indent);
// email! path selection: an integer picks a character; user and host read
// or replace the parts before and after the first "@".
void email_eval_path(const Cell* parent, const Cell* element, const Cell* set_value, const Cell* path,
                     bool case_, Cell* out);

// Lexer loaders from UTF-8 text (the text between the delimiters for a tag,
// after the "@" for a ref, the whole token for an email); "^" is an ordinary
// character. Invalid UTF-8 answers false; otherwise the value is written into
// out.
bool scan_tag(const uint8_t* start, const uint8_t* end, Cell* out);
bool scan_email(const uint8_t* start, const uint8_t* end, Cell* out);
bool scan_ref(const uint8_t* start, const uint8_t* end, Cell* out);

void init_tag();
void init_email();
void init_ref();

} // namespace kel
