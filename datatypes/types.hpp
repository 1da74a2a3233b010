// The built-in types and their registration in a fixed order.
#pragma once

namespace kel {

// The registry's tables, then every built-in type in its fixed order (a parent
// always before its children). A type that registers no action (context!)
// has every slot 0.
void datatypes_register();

} // namespace kel
