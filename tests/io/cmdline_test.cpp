// The command line rebuilt from argv, the environment map and the OS
// description. Every test also runs with KEL_GC_TORTURE=1.
#include "tests/io/files_fixture.hpp"

#include "core/context.hpp"
#include "core/object.hpp"
#include "datatypes/map.hpp"
#include "datatypes/tuple.hpp"
#include "io/cmdline.hpp"
#include "runtime/platform/platform.hpp"
#include "runtime/start.hpp"

#include <sys/utsname.h>

namespace kel::testing {
namespace {

using CommandLine = FilesTest;
using Environment = FilesTest;
using OsInfo = FilesTest;

// The library's splitter of the command line: blanks and tabs separate while
// the split mode is on, a double quote flips it, empty stretches are dropped,
// and a quote at each end of an argument is removed.
std::vector<std::string> command_line_split(const std::string& line) {
    std::vector<std::string> args;
    bool split = true;
    size_t start = 0;
    auto finish = [&](size_t end) {
        std::string arg = line.substr(start, end - start);
        if (arg.empty()) return;
        if (arg.size() >= 2 && arg.front() == '"' && arg.back() == '"') arg = arg.substr(1, arg.size() - 2);
        else if (arg.front() == '"') arg = arg.substr(1);
        args.push_back(arg);
    };
    for (size_t i = 0; i < line.size(); i++) {
        char c = line[i];
        if (c == '"') split = !split;
        if (split && (c == ' ' || c == '\t')) {
            finish(i);
            start = i + 1;
        }
    }
    finish(line.size());
    return args;
}

TEST_F(CommandLine, JoinedArgumentsSplitBackUnchanged) {
    const std::vector<std::vector<std::string>> cases = {
        {"/usr/bin/kel"},
        {"/usr/bin/kel", "script.kel", "a", "b"},
        {"/opt/my kel/kel", "a b", "c"},
        {"kel", "", "x", ""},
        {"kel", "tab\there", " lead", "trail "},
        {"kel", "caf\xC3\xA9", "--catch"},
    };
    for (const auto& argv : cases) {
        std::string line = command_line_join(argv);
        EXPECT_EQ(command_line_split(line), argv) << line;
    }
    EXPECT_EQ(command_line_join({"kel", "a b", ""}), "kel \"a b\" \"\"");

    int argc = runtime_record.argc;
    char** argv = runtime_record.argv;
    char arg0[] = "/bin/kel", arg1[] = "my file.kel";
    char* args[] = {arg0, arg1, nullptr};
    runtime_record.argc = 2;
    runtime_record.argv = args;
    Cell* line = get_command_line();
    runtime_record.argc = argc;
    runtime_record.argv = argv;
    EXPECT_EQ(cell_type(line), T_STRING);
    EXPECT_EQ(text_of(line), "/bin/kel \"my file.kel\"");
}

// The value of a name in the environment map, or nothing.
std::optional<std::string> env_map_value(const Cell* map, const char* name) {
    Cell* key = text_push(name);
    int32_t at = map_find_key(map, key, MAP_LOOKUP_STRICT);
    if (at < 0) return std::nullopt;
    const Cell* value = &block_cells(map)[at + 1];
    if (value->header == 0) return std::nullopt;
    return text_of(value);
}

TEST_F(Environment, MapFollowsSetAndUnset) {
    ASSERT_TRUE(env_set("KEL_TEST_ENV_X", "a=b=c"));
    ASSERT_TRUE(env_set("kel_test_env_x", "lower"));
    ASSERT_TRUE(env_set("KEL_TEST_ENV_EMPTY", ""));
    EXPECT_EQ(env_get("KEL_TEST_ENV_X"), "a=b=c");
    Cell* map = stack_push_new(T_NONE);
    platform_list_env(map);
    ASSERT_EQ(cell_type(map), T_MAP);
    EXPECT_EQ(env_map_value(map, "KEL_TEST_ENV_X"), "a=b=c");  // split at the first "=" only
    EXPECT_EQ(env_map_value(map, "kel_test_env_x"), "lower");  // names differ by case
    EXPECT_EQ(env_map_value(map, "KEL_TEST_ENV_EMPTY"), "");

    ASSERT_TRUE(env_set("KEL_TEST_ENV_X", nullptr));
    ASSERT_TRUE(env_set("kel_test_env_x", nullptr));
    ASSERT_TRUE(env_set("KEL_TEST_ENV_EMPTY", nullptr));
    EXPECT_EQ(env_get("KEL_TEST_ENV_X"), std::nullopt);
    platform_list_env(map);
    EXPECT_EQ(env_map_value(map, "KEL_TEST_ENV_X"), std::nullopt);
    EXPECT_EQ(env_map_value(map, "KEL_TEST_ENV_EMPTY"), std::nullopt);
    EXPECT_FALSE(env_set("A=B", "x"));
}

TEST_F(OsInfo, DescribesTheKernel) {
    utsname name{};
    ASSERT_EQ(uname(&name), 0);
    Cell* info = stack_push_new(T_NONE);
    platform_os_info(info);
    ASSERT_EQ(cell_type(info), T_OBJECT);
    std::vector<std::string> fields;
    for (uint32_t i = 0; i < context_word_count(info->w1); i++)
        fields.push_back(symbol_text(context_word_at(info->w1, i)->w2));
    EXPECT_EQ(fields, (std::vector<std::string>{"name", "arch", "version", "build"}));
    auto field = [&](const char* f) {
        Cell word = word_intern(f);
        return *object_select_field(info, &word);
    };
    Cell value = field("name");
    EXPECT_EQ(text_of(&value), name.sysname);
    value = field("arch");
    EXPECT_EQ(cell_type(&value), T_WORD);
    if (std::string(name.machine) == "x86_64") {
        EXPECT_EQ(symbol_text(value.w2), "x86-64");
    }
    value = field("version");
    ASSERT_EQ(cell_type(&value), T_TUPLE);
    unsigned major = 0, minor = 0;
    ASSERT_EQ(std::sscanf(name.release, "%u.%u", &major, &minor), 2);
    EXPECT_EQ(tuple_byte(&value, 0), major);
    EXPECT_EQ(tuple_byte(&value, 1), std::min(minor, 255u));
    value = field("build");
    EXPECT_EQ(cell_type(&value), T_INTEGER);
}

} // namespace
} // namespace kel::testing
