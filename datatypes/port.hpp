// port!: an object through which series and I/O actions reach a scheme's
// actor. The datatype holds no I/O code: every action applied to a port calls
// the actor's function of the same word, with the port, the action's
// arguments and, for each refinement, its flag followed by its arguments.
//
// Cell: an object cell (word 1 the context, word 2 the class id, word 3 0)
// whose header is port!. The fields come from system/standard/port, in order:
// spec, scheme, actor, awake, state, data, extra.
#pragma once
#include "runtime/cell.hpp"
#include <cstdint>

namespace kel {

// Positions of the fields of a port.
enum PortField : uint32_t {
    PORT_SPEC = 0, PORT_SCHEME, PORT_ACTOR, PORT_AWAKE, PORT_STATE, PORT_DATA, PORT_EXTRA,
};

// make: its spec is an object (copied) or a block (made into an object on
// system/standard/url-parts). Its first field names the scheme, looked up in
// system/schemes; the scheme's fourth field is the actor (object! or handle!).
// Raises access error no-scheme, unknown-scheme or invalid-actor.
const Cell* port_make(Cell* proto, const Cell* spec, uint8_t type);
// "make port! [" then the fields as an object molds them, then "]".
int32_t port_mold(const Cell* value, Cell* target, bool only, bool all, bool flat, bool part,
                  int32_t budget, int32_t indent);
// The same text as mold with mold's options cleared.
int32_t port_form(const Cell* value, Cell* target, bool only, bool all, bool flat, bool part,
                  int32_t budget, int32_t indent);

// Registers port! and its collector marker.
void init_port();

} // namespace kel
