#include "gui/menu_tree.hpp"
#include "core/block.hpp"
#include "core/cycle.hpp"
#include "core/error.hpp"
#include "core/series.hpp"
#include "core/unicode.hpp"
#include "gui/text_style.hpp"
#include "runtime/collector.hpp"
#include "runtime/memory.hpp"
#include "runtime/native_guard.hpp"

#include <string_view>

namespace kel {

// Reads cells [index, length) of the block's series into items. Nothing here
// allocates a series, so the cells stay where they are while the tree is read;
// a block met again inside itself raises invalid-arg with that block.
static void menu_read(Node node, uint32_t index, std::vector<MenuItem>* items) {
    native_stack_check();
    CycleGuard guard(node);
    for (uint32_t i = index; i < series_buffer(node)->length(); i++) {
        const Cell* cells = block_cells(node);
        const Cell* value = cells + i;
        if (word_named_q(value, "---") || (cell_type(value) == T_STRING && string_utf8(value) == "---")) {
            MenuItem separator;
            separator.kind = MenuItem::SEPARATOR;
            items->push_back(std::move(separator));
        } else if (cell_type(value) == T_STRING) {
            MenuItem item;
            item.title = string_utf8(value);
            if (i + 1 < series_buffer(node)->length()) {
                const Cell* next = value + 1;
                if (cell_type(next) == T_BLOCK) {
                    if (cycles_find(series_node(next))) {
                        CellRoot block(*next);
                        error_raise(ERR_INVALID_ARG, &block.cell);
                    }
                    item.kind = MenuItem::SUBMENU;
                    menu_read(series_node(next), uint32_t(series_index(next)), &item.children);
                    i++;
                } else if (cell_type(next) == T_WORD) {
                    item.data = int32_t(series_node(next));
                    i++;
                }
            }
            items->push_back(std::move(item));
        }
    }
}

std::vector<MenuItem> menu_tree_of(const Cell* menu) {
    std::vector<MenuItem> items;
    if (cell_type(menu) == T_BLOCK) menu_read(series_node(menu), uint32_t(series_index(menu)), &items);
    return items;
}

bool menu_bar_q(const Cell* menu, const char* face_type) {
    if (cell_type(menu) != T_BLOCK) return false;
    SeriesBuffer* b = series_buffer_of(menu);
    if (uint32_t(series_index(menu)) >= b->length()) return false;
    if (std::string_view(face_type) != "window") return false;
    const Cell* first = block_cells(b) + uint32_t(series_index(menu));
    return !word_named_q(first, "popup");
}

} // namespace kel
