// file!: molded names that load back, local names and the current
// directory, and the library routines over directories and standard output.
// Every test also runs with KEL_GC_TORTURE=1.
#include "tests/io/files_fixture.hpp"

#include "core/registry.hpp"
#include "io/routines.hpp"
#include "runtime/platform/platform.hpp"

#include <fcntl.h>
#include <unistd.h>

namespace kel::testing {
namespace {

using FileDatatype = FilesTest;
using FileRoutines = FilesTest;

Cell* file_push_text(const std::string& text) {
    Cell* f = text_push(text);
    cell_type_set(f, T_FILE);
    return f;
}

std::string mold_file(const Cell* f, bool part = false, int32_t budget = 0, int32_t* left = nullptr) {
    Cell* out = stack_push_new(T_NONE);
    string_make_at(out, 8);
    int32_t rest = file_mold(f, out, false, false, false, part, budget, 0);
    if (left) *left = rest;
    return text_of(out);
}

TEST_F(FileDatatype, MoldQuotesOnlyWhenNeededAndLoadsBack) {
    struct Case {
        const char* name;
        const char* molded;
    };
    const Case cases[] = {
        {"dir/a.txt", "%dir/a.txt"},
        {"a b", "%\"a b\""},
        {"", "%\"\""},
        {"100%", "%\"100%\""},
        {"say \"hi\"", "%\"say ^\"hi^\"\""},
        {"x^y", "%\"x^^y\""},
        {"tab\there", "%\"tab^-here\""},
        {"caf\xC3\xA9", "%caf\xC3\xA9"},  // characters from 127 up never quote
        {"a;b", "%\"a;b\""},
    };
    for (const Case& c : cases) {
        Cell* f = file_push_text(c.name);
        std::string molded = mold_file(f);
        EXPECT_EQ(molded, c.molded) << c.name;
        Cell* loaded = load(molded);
        ASSERT_EQ(block_length(loaded), 1u) << molded;
        const Cell* back = &block_cells(loaded)[0];
        EXPECT_EQ(cell_type(back), T_FILE) << molded;
        EXPECT_EQ(text_of(back), c.name) << molded;
    }
    // Through the registry's slot, from the position.
    Cell* f = file_push_text("ab cd");
    f->w1 = 3;
    EXPECT_EQ(mold_of(*f), "%cd");
}

TEST_F(FileDatatype, MoldPartLimit) {
    int32_t left = 0;
    EXPECT_EQ(mold_file(file_push_text("abcdef"), true, 3, &left), "%abc");
    EXPECT_EQ(left, -1);
    EXPECT_EQ(mold_file(file_push_text("a b c"), true, 1, &left), "%a");  // the cut span decides quoting
    EXPECT_EQ(mold_file(file_push_text("abc"), true, -5, &left), "%");
    EXPECT_EQ(mold_file(file_push_text("abc"), false, 10, &left), "%abc");
    EXPECT_EQ(left, 6);
}

TEST_F(FileDatatype, LocalNamesAndTheCurrentDirectory) {
    std::string cwd = current_dir_get();
    Cell* here = file_current_dir();
    EXPECT_EQ(text_of(here), cwd == "/" ? "/" : cwd + "/");

    struct Case {
        const char* name;
        bool absolute;
        std::string local;
    };
    const std::string prefix = cwd == "/" ? "/" : cwd + "/";
    const Case cases[] = {
        {"dir/a.txt", false, "dir/a.txt"},
        {"dir/a.txt", true, prefix + "dir/a.txt"},
        {"/c/x", true, "/c/x"},  // no drives: a one-letter segment is a folder
        {"/", true, "/"},
        {"//srv/x", false, "//srv/x"},
        {"", true, prefix},
    };
    for (const Case& c : cases) {
        Cell* f = file_push_text(c.name);
        Cell* out = stack_push_new(T_NONE);
        string_make_at(out, 4);
        file_to_local_into(f, out, c.absolute);
        EXPECT_EQ(text_of(out), c.local) << c.name;
        std::string os;
        EXPECT_TRUE(file_to_local(f, &os));
        EXPECT_EQ(os, c.name);
    }
}

// Calls a routine with its arguments in a frame; the result stays pushed.
// The cells pushed before the call stay where they are.
template <typename F> Cell* routine_call(F routine, std::initializer_list<const Cell*> args) {
    StackState outside = stack_save();
    stack_mark_native_interp(nullptr);
    for (const Cell* a : args) stack_push(a);
    if (args.size() == 0) stack_push_new(T_NONE);
    routine();
    Cell result = *data_stack.args;
    stack_restore(outside);
    return stack_push(&result);
}

TEST_F(FileRoutines, DirectoriesExistenceAndCurrentDirectory) {
    Cell* d = file_at("made");
    EXPECT_EQ(cell_type(routine_call(routine_create_dir, {d})), T_UNSET);
    EXPECT_TRUE(std::filesystem::is_directory(path("made")));
    StackState saved = stack_save();
    EXPECT_EQ(raised_code([&] { routine_call(routine_create_dir, {d}); }), ACCESS_ERROR + ERR_NO_CREATE);
    stack_restore(saved);
    EXPECT_EQ(cell_type(&error_in_flight.args[0]), T_FILE);

    Cell* yes = routine_call(routine_exists_q, {d});
    EXPECT_EQ(cell_type(yes), T_LOGIC);
    EXPECT_EQ(yes->w1, 1u);
    EXPECT_EQ(routine_call(routine_exists_q, {file_at("nothing")})->w1, 0u);

    std::string before = current_dir_get();
    routine_call(routine_set_current_dir, {file_at("made/")});
    Cell* now = routine_call(routine_get_current_dir, {});
    EXPECT_EQ(cell_type(now), T_FILE);
    EXPECT_EQ(text_of(now), std::filesystem::canonical(path("made")).string() + "/");
    // Relative names now resolve inside the new directory.
    put("made/r", "inside");
    Cell* out = stack_push_new(T_NONE);
    file_read_any(file_push_text("r"), nullptr, nullptr, false, false, out);
    EXPECT_EQ(text_of(out), "inside");
    EXPECT_TRUE(current_dir_set(before.c_str()));
    saved = stack_save();
    EXPECT_EQ(raised_code([&] { routine_call(routine_set_current_dir, {file_at("nothing/")}); }),
              ACCESS_ERROR + ERR_CANNOT_OPEN);
    stack_restore(saved);
}

TEST_F(FileRoutines, WriteStdoutWritesTheValueText) {
    // Standard output is redirected to a file for the call.
    int saved_fd = dup(STDOUT_FD);
    int fd = open(path("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    dup2(fd, STDOUT_FD);
    close(fd);
    routine_call(routine_write_stdout, {text_push("h\xC3\xA9 ")});
    Cell n = integer_cell(42);
    routine_call(routine_write_stdout, {&n});
    dup2(saved_fd, STDOUT_FD);
    close(saved_fd);
    EXPECT_EQ(get("out"), "h\xC3\xA9 42");
}

TEST_F(FileRoutines, QuitReturnEndsTheProcessWithTheStatus) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    Cell status = integer_cell(3);
    EXPECT_EXIT(routine_call(routine_quit_return, {&status}), ::testing::ExitedWithCode(3), "");
}

} // namespace
} // namespace kel::testing
