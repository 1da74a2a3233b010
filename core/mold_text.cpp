// The writers of core/mold_text.hpp are inline wrappers over core/string.hpp;
// this unit only checks that the header stands on its own.
#include "core/mold_text.hpp"
