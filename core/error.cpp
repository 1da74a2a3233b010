#include "core/error.hpp"

namespace kel {

[[noreturn]] void error_raise(ErrorCategory category, uint16_t id) {
    throw LanguageError(category, id);
}

} // namespace kel
