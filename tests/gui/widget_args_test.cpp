// What the widget files read from faces without a display: menu blocks as
// item trees, para and font objects as text settings, and the arguments and
// answers of the file, folder and font dialogs.
#include "core/object.hpp"
#include "core/unicode.hpp"
#include "gui/dialog_args.hpp"
#include "gui/menu_tree.hpp"
#include "gui/text_style.hpp"
#include "tests/core/interp_fixture.hpp"
#include "tests/support/number_fixture.hpp"

#include <gtest/gtest.h>

namespace kel::testing {
namespace {

struct WidgetArgsTest : RuntimeTest {};

// An object whose fields are the named values, in order (slot i = field i).
void object_build(std::initializer_list<std::pair<const char*, V>> fields, CellRoot& out) {
    object_make_at(&out.cell, uint32_t(fields.size()));
    for (const auto& field : fields) {
        CellRoot value;
        build(field.second, value);
        CellRoot word(word_intern(field.first));
        context_put_field(out.cell.w1, &word.cell, &value.cell);
    }
}

std::string symbol_text(int32_t symbol) {
    uint32_t length = 0;
    const uint8_t* name = symbol_name(uint32_t(symbol), &length);
    return std::string(reinterpret_cast<const char*>(name), length);
}

TEST_F(WidgetArgsTest, MenuBlocksBecomeItemTrees) {
    CellRoot menu;
    build(blk({str("File"), blk({str("Open"), w("open"), str("---"), str("Quit"), w("quit")}), w("---"),
               str("Plain"), i(7), str("Last")}),
          menu);
    std::vector<MenuItem> items = menu_tree_of(&menu.cell);
    ASSERT_EQ(items.size(), 4u);
    EXPECT_EQ(items[0].kind, MenuItem::SUBMENU);
    EXPECT_EQ(items[0].title, "File");
    ASSERT_EQ(items[0].children.size(), 3u);
    EXPECT_EQ(items[0].children[0].title, "Open");
    EXPECT_EQ(symbol_text(items[0].children[0].data), "open");
    EXPECT_EQ(items[0].children[1].kind, MenuItem::SEPARATOR);
    EXPECT_EQ(symbol_text(items[0].children[2].data), "quit");
    EXPECT_EQ(items[1].kind, MenuItem::SEPARATOR);
    // A title followed by a value that is neither a block nor a word, and a
    // title at the end, pick nothing; the integer itself is skipped.
    EXPECT_EQ(items[2].title, "Plain");
    EXPECT_EQ(items[2].data, MENU_NO_WORD);
    EXPECT_EQ(items[3].title, "Last");
    EXPECT_EQ(items[3].data, MENU_NO_WORD);
    CellRoot not_block;
    build(str("File"), not_block);
    EXPECT_TRUE(menu_tree_of(&not_block.cell).empty());
}

TEST_F(WidgetArgsTest, OnlyAWindowsNonPopupMenuIsAMenuBar) {
    CellRoot bar, popup, empty;
    build(blk({str("File"), blk({str("Quit"), w("quit")})}), bar);
    build(blk({w("popup"), str("Copy"), w("copy")}), popup);
    build(blk({}), empty);
    EXPECT_TRUE(menu_bar_q(&bar.cell, "window"));
    EXPECT_FALSE(menu_bar_q(&bar.cell, "base"));
    EXPECT_FALSE(menu_bar_q(&popup.cell, "window"));
    EXPECT_FALSE(menu_bar_q(&empty.cell, "window"));
    EXPECT_FALSE(menu_bar_q(&none_cell, "window"));
}

TEST_F(WidgetArgsTest, ParaPlacementFollowsTheTypeDefaults) {
    struct Case {
        const char* type;
        V align, v_align, wrap;
        TextHorizontal h;
        TextVertical v;
        bool wraps, ellipsis, scrolls;
    };
    const V N = none();
    const Case cases[] = {
        {"base", N, N, N, TEXT_CENTER, TEXT_MIDDLE, true, false, false},
        {"base", w("right"), w("bottom"), w("false"), TEXT_RIGHT, TEXT_BOTTOM, false, false, false},
        {"rich-text", N, N, N, TEXT_LEFT, TEXT_TOP, true, false, false},
        {"button", N, N, N, TEXT_CENTER, TEXT_MIDDLE, false, false, false},
        {"check", N, N, N, TEXT_LEFT, TEXT_MIDDLE, false, false, false},
        {"radio", w("center"), w("top"), N, TEXT_CENTER, TEXT_TOP, false, false, false},
        {"text", N, w("middle"), w("false"), TEXT_LEFT, TEXT_MIDDLE, false, true, false},
        {"field", w("right"), w("bottom"), w("false"), TEXT_RIGHT, TEXT_TOP, false, false, true},
        {"area", N, N, N, TEXT_LEFT, TEXT_TOP, true, false, false},
        {"slider", w("right"), w("bottom"), N, TEXT_LEFT, TEXT_TOP, false, false, false},
    };
    for (const Case& c : cases) {
        CellRoot para;
        object_build({{"origin", N}, {"padding", N}, {"scroll", N}, {"align", c.align}, {"v-align", c.v_align},
                      {"wrap?", c.wrap}},
                     para);
        // false is a word in a built block; set it as the logic it stands for.
        if (c.wrap.kind == V::WORD) {
            Cell f;
            logic_make_at(&f, false);
            CellRoot word(word_intern("wrap?"));
            context_put_field(para.cell.w1, &word.cell, &f);
        }
        ParaLayout layout = para_layout(c.type, &para.cell);
        SCOPED_TRACE(c.type);
        EXPECT_EQ(layout.h, c.h);
        EXPECT_EQ(layout.v, c.v);
        EXPECT_EQ(layout.wrap, c.wraps);
        EXPECT_EQ(layout.ellipsis, c.ellipsis);
        EXPECT_EQ(layout.scrolls, c.scrolls);
    }
    // No para at all: the type's defaults.
    EXPECT_EQ(para_layout("button", &none_cell).h, TEXT_CENTER);
}

TEST_F(WidgetArgsTest, FontObjectsGiveTheirSettings) {
    CellRoot font;
    object_build({{"name", str("Serif")}, {"size", i(12)}, {"style", blk({w("bold"), w("underline")})},
                  {"angle", i(90)}, {"color", none()}, {"anti-alias?", w("ClearType")}},
                 font);
    FontSpec spec = font_spec_of(&font.cell);
    EXPECT_EQ(spec.name, "Serif");
    EXPECT_EQ(spec.size, 12);
    EXPECT_EQ(spec.angle, 90);
    EXPECT_TRUE(spec.bold);
    EXPECT_TRUE(spec.underline);
    EXPECT_FALSE(spec.italic);
    EXPECT_FALSE(spec.strike);
    EXPECT_EQ(spec.quality, FONT_QUALITY_SUBPIXEL);

    CellRoot plain;
    object_build({{"name", none()}, {"size", i(-3)}, {"style", w("italic")}}, plain);
    spec = font_spec_of(&plain.cell);
    EXPECT_EQ(spec.name, FONT_DEFAULT_NAME);
    EXPECT_EQ(spec.size, FONT_DEFAULT_SIZE);
    EXPECT_TRUE(spec.italic);
    EXPECT_EQ(spec.quality, FONT_QUALITY_DEFAULT);
    EXPECT_EQ(font_spec_of(&none_cell).size, FONT_DEFAULT_SIZE);
}

TEST_F(WidgetArgsTest, FileDialogArgumentsAreCheckedAndUnpacked) {
    CellRoot title, name, filters, bad, odd;
    build(str("Pick"), title);
    build(str("/home/u/notes.txt"), name);
    cell_type_set(&name.cell, T_FILE);
    build(blk({str("Scripts"), str("*.kel;*.kels"), str("Text"), str("*.txt")}), filters);
    FileDialogRequest request = file_dialog_request_of(&title.cell, &name.cell, &filters.cell);
    EXPECT_TRUE(request.has_title);
    EXPECT_EQ(request.title, "Pick");
    EXPECT_EQ(request.folder, "/home/u/");
    EXPECT_EQ(request.name, "notes.txt");
    ASSERT_EQ(request.filters.size(), 2u);
    EXPECT_EQ(request.filters[0].pattern, "*.kel;*.kels");
    EXPECT_EQ(request.filters[1].label, "Text");

    request = file_dialog_request_of(&none_cell, &none_cell, &none_cell);
    EXPECT_FALSE(request.has_title);
    EXPECT_TRUE(request.folder.empty() && request.name.empty());
    ASSERT_EQ(request.filters.size(), 4u);
    EXPECT_EQ(request.filters[0].label, "All files");
    EXPECT_EQ(request.filters[3].pattern, "*.txt");

    build(blk({str("Odd"), str("*.x"), str("Dangling")}), odd);
    EXPECT_EQ(file_dialog_request_of(&none_cell, &none_cell, &odd.cell).filters.size(), 1u);
    build(blk({str("Numbers"), i(12)}), bad);
    expect_error(ErrorCategory::script, ERR_INVALID_ARG,
                 [&] { file_dialog_request_of(&none_cell, &none_cell, &bad.cell); });
}

TEST_F(WidgetArgsTest, DialogAnswersAreFilesAndBlocks) {
    CellRoot out;
    file_dialog_answer({}, true, &out.cell);
    EXPECT_EQ(cell_type(&out.cell), T_NONE);
    file_dialog_answer({"/tmp/one.txt"}, false, &out.cell);
    EXPECT_EQ(cell_type(&out.cell), T_FILE);
    EXPECT_EQ(string_utf8(&out.cell), "/tmp/one.txt");
    file_dialog_answer({"/tmp/one.txt"}, true, &out.cell);
    ASSERT_EQ(cell_type(&out.cell), T_BLOCK);
    EXPECT_EQ(block_ks_length_q(&out.cell), 1);
    file_dialog_answer({"/d/a", "/d/b", "/d/c"}, true, &out.cell);
    EXPECT_EQ(block_ks_length_q(&out.cell), 3);
    EXPECT_EQ(string_utf8(block_ks_abs_at(&out.cell, 2)), "/d/c");

    std::string folder = "/home/u";
    folder_dialog_answer(&folder, &out.cell);
    EXPECT_EQ(string_utf8(&out.cell), "/home/u/");
    folder = "/";
    folder_dialog_answer(&folder, &out.cell);
    EXPECT_EQ(string_utf8(&out.cell), "/");
    folder_dialog_answer(nullptr, &out.cell);
    EXPECT_EQ(cell_type(&out.cell), T_NONE);

    font_dialog_answer("Serif", 14, true, true, &out.cell);
    ASSERT_EQ(block_ks_length_q(&out.cell), 3);
    EXPECT_EQ(string_utf8(block_ks_abs_at(&out.cell, 0)), "Serif");
    EXPECT_EQ(cell_int(block_ks_abs_at(&out.cell, 1)), 14);
    Cell style = *block_ks_abs_at(&out.cell, 2);
    ASSERT_EQ(cell_type(&style), T_BLOCK);
    EXPECT_TRUE(word_named_q(block_ks_abs_at(&style, 0), "bold"));
    EXPECT_TRUE(word_named_q(block_ks_abs_at(&style, 1), "italic"));
    font_dialog_answer("Mono", 9, false, true, &out.cell);
    EXPECT_TRUE(word_named_q(block_ks_abs_at(&out.cell, 2), "italic"));
    font_dialog_answer("Mono", 9, false, false, &out.cell);
    EXPECT_EQ(cell_type(block_ks_abs_at(&out.cell, 2)), T_NONE);
}

// Fills the stack below the caller with set bits, as earlier calls leave it.
[[gnu::noinline]] void stack_dirty() {
    volatile uint8_t bytes[16384];
    for (auto& b : bytes) b = 0xFF;
}

[[gnu::noinline]] void font_answer_after_dirty_stack(Cell* out) {
    stack_dirty();
    font_dialog_answer("Serif", 20, false, false, out);
}

TEST_F(WidgetArgsTest, FontAnswerCarriesNoStrayFlags) {
    // A flag left in an answer cell shows: a new-line one molds the block over two lines.
    CellRoot out;
    font_answer_after_dirty_stack(&out.cell);
    ASSERT_EQ(block_ks_length_q(&out.cell), 3);
    for (uint32_t i = 0; i < 3; i++) EXPECT_EQ(block_ks_abs_at(&out.cell, i)->header & CELL_NEWLINE, 0u) << i;
}

} // namespace
} // namespace kel::testing
