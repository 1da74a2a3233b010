// A face's menu block read as a tree of items, the shape the backend turns
// into toolkit menus. The block is read left to right: a string followed by a
// block is a submenu, a string followed by a word an item that picks the
// word, a string followed by anything else (or last) an item that picks
// nothing, the word --- (or the string "---") a separator; every other value
// is skipped.
#pragma once
#include "runtime/cell.hpp"
#include <cstdint>
#include <string>
#include <vector>

namespace kel {

constexpr int32_t MENU_NO_WORD = -1;  // data of an item with no word after its title

struct MenuItem {
    enum Kind : uint8_t { ITEM, SUBMENU, SEPARATOR } kind = ITEM;
    std::string title;              // UTF-8; empty for a separator
    int32_t data = MENU_NO_WORD;    // the item's word as a symbol id, or MENU_NO_WORD
    std::vector<MenuItem> children; // a submenu's items
};

// The items of a menu block from its position; a value that is not a block
// gives none. A block that holds itself raises invalid-arg; nesting deeper
// than the native stack allows raises stack-overflow.
std::vector<MenuItem> menu_tree_of(const Cell* menu);

// True when the menu is a window's menu bar: a non-empty block, a face of
// type window (type word spelling), and a first value that is not the word
// popup.
bool menu_bar_q(const Cell* menu, const char* face_type);

} // namespace kel
