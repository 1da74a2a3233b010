// The file back end: reading and writing with their refinements, listings,
// delete, rename, directories and dates, on a temporary folder. Every test
// also runs with KEL_GC_TORTURE=1.
#include "tests/io/files_fixture.hpp"

#include "datatypes/date.hpp"

#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>

namespace kel::testing {
namespace {

using FileRead = FilesTest;
using FileWrite = FilesTest;
using FileNames = FilesTest;

TEST_F(FileRead, TextAndBinaryRoundTrip) {
    const std::string text = "h\xC3\xA9llo \xE2\x98\x83\nline two\r\n";
    Cell* s = text_push(text);
    file_write_any(file_at("t.txt"), s, nullptr, nullptr, false, false);
    EXPECT_EQ(get("t.txt"), text);  // UTF-8 on disk, line ends as they were
    Cell* back = read("t.txt");
    EXPECT_EQ(cell_type(back), T_STRING);
    EXPECT_EQ(text_of(back), text);

    std::string bytes;
    for (int i = 0; i < 256; i++) bytes += char(i);
    put("b.bin", bytes);
    Cell* bin = read("b.bin", nullptr, nullptr, true);
    ASSERT_EQ(cell_type(bin), T_BINARY);
    SeriesBuffer* b = series_buffer(bin->w2);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(b->head_ptr()), b->length()), bytes);
    // A binary is written from its position.
    bin->w1 = 250;
    file_write_any(file_at("c.bin"), bin, nullptr, nullptr, false, false);
    EXPECT_EQ(get("c.bin"), bytes.substr(250));
}

TEST_F(FileRead, LinesAcceptLfAndCrLf) {
    struct Case {
        const char* content;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"a\r\n\r\nb\r\n", {"a", "", "b"}},
        {"a\n\nb", {"a", "", "b"}},
        {"a\r\nb\nc", {"a", "b", "c"}},
        {"\n", {""}},
        {"x\ry\n", {"x\ry"}},  // only a CR just before an LF ends a line
        {"", {}},
    };
    for (const Case& c : cases) {
        put("l.txt", c.content);
        Cell* block = read("l.txt", nullptr, nullptr, false, true);
        ASSERT_EQ(cell_type(block), T_BLOCK) << c.content;
        EXPECT_EQ(texts_of(block), c.lines) << c.content;
    }
}

TEST_F(FileRead, PartAndSeekSelectARange) {
    put("d.txt", "0123456789");
    struct Case {
        int part, seek;  // -2: refinement not given
        const char* expected;
    };
    const Case cases[] = {
        {0, -2, ""},           {3, -2, "012"},       {50, -2, "0123456789"},
        {-2, 4, "456789"},     {3, 4, "456"},        {-2, 10, ""},
        {-2, 20, ""},          {5, 20, ""},          {-1, -2, "0123456789"},
        {-2, -1, "0123456789"},
    };
    for (const Case& c : cases) {
        Cell part = integer_cell(c.part), seek = integer_cell(c.seek);
        Cell* out = read("d.txt", c.part == -2 ? nullptr : &part, c.seek == -2 ? nullptr : &seek);
        EXPECT_EQ(text_of(out), c.expected) << c.part << " " << c.seek;
    }
    Cell* empty = read("d.txt", nullptr, nullptr, true);
    EXPECT_EQ(cell_type(empty), T_BINARY);
    Cell zero = integer_cell(0);
    empty = read("d.txt", &zero, nullptr, true);
    EXPECT_EQ(cell_type(empty), T_BINARY);
    EXPECT_EQ(series_buffer(empty->w2)->length(), 0u);

    // A special file reports size 0 and is read to its end.
    Cell* self = read("/proc/self/status");
    EXPECT_NE(text_of(self).find("Name:"), std::string::npos);

    Cell bad = char_cell('x');
    EXPECT_EQ(raised_code([&] { read("d.txt", &bad); }), SCRIPT_ERROR + ERR_INVALID_REFINE_ARG);
}

// A sparse file past 4 GiB: offsets and sizes are 64-bit, and a whole read
// that no series can hold fails instead of returning a cut-down content.
TEST_F(FileRead, FilesBeyondFourGibibytes) {
    const uint64_t big = (uint64_t(5) << 30) + 3;
    {
        std::ofstream out(path("big"), std::ios::binary);
    }
    std::error_code failed;
    std::filesystem::resize_file(path("big"), big, failed);
    if (failed) GTEST_SKIP() << "no sparse files here";
    file_write_any(file_at("big"), text_push("tail"), nullptr, nullptr, true, false);
    EXPECT_EQ(std::filesystem::file_size(path("big")), big + 4);
    Cell part = integer_cell(4);
    Cell* head = read("big", &part, nullptr, true);
    EXPECT_EQ(series_buffer(head->w2)->length(), 4u);
    EXPECT_EQ(raised_code([&] { read("big"); }), SCRIPT_ERROR + ERR_SIZE_LIMIT);
    std::ifstream in(path("big"), std::ios::binary);
    in.seekg(std::streamoff(big));
    std::string tail(4, '\0');
    in.read(tail.data(), 4);
    EXPECT_EQ(tail, "tail");
}

TEST_F(FileRead, FailuresRaiseCannotOpenNamingTheFile) {
    const std::string missing = path("missing.txt");
    EXPECT_EQ(raised_code([&] { read("missing.txt"); }), ACCESS_ERROR + ERR_CANNOT_OPEN);
    EXPECT_EQ(text_of(&error_in_flight.args[0]), missing);
    EXPECT_EQ(cell_type(&error_in_flight.args[0]), T_FILE);
    std::filesystem::create_directory(path("sub"));
    // A directory named without the trailing slash is no file to read.
    EXPECT_EQ(raised_code([&] { read("sub"); }), ACCESS_ERROR + ERR_CANNOT_OPEN);
    EXPECT_EQ(raised_code([&] { read("nodir/"); }), ACCESS_ERROR + ERR_CANNOT_OPEN);
    // A name holding NUL cannot reach the OS; it must not be cut short there.
    put("a", "x");
    Cell* f = file_at("a");
    string_append_char(f, 0);
    Cell* out = stack_push_new(T_NONE);
    EXPECT_EQ(raised_code([&] { file_read_any(f, nullptr, nullptr, false, false, out); }),
              ACCESS_ERROR + ERR_CANNOT_OPEN);
}

TEST_F(FileRead, ListingsAreSortedAndMarkDirectories) {
    for (const char* name : {"b", "a.txt", "C"}) put(name, "");
    std::filesystem::create_directory(path("sub"));
    std::filesystem::create_directory_symlink(path("sub"), path("link"));
    const std::vector<std::string> expected = {"C", "a.txt", "b", "link/", "sub/"};
    for (const char* form : {"/", "/.", "/sub/.."}) {
        Cell* block = read(dir + form);
        ASSERT_EQ(cell_type(block), T_BLOCK) << form;
        EXPECT_EQ(texts_of(block), expected) << form;
        for (uint32_t i = 0; i < block_length(block); i++) EXPECT_EQ(cell_type(&block_cells(block)[i]), T_FILE);
    }
    EXPECT_EQ(texts_of(read("sub/")), std::vector<std::string>{});
    // The root lists the top of the file system.
    std::vector<std::string> root = texts_of(read("/"));
    EXPECT_NE(std::find(root.begin(), root.end(), "tmp/"), root.end());
    EXPECT_EQ(raised_code([&] { read("none/"); }), ACCESS_ERROR + ERR_CANNOT_OPEN);
}

TEST_F(FileWrite, AppendSeekAndTruncate) {
    Cell* abc = text_push("abcdef");
    file_write_any(file_at("w"), abc, nullptr, nullptr, false, false);
    file_write_any(file_at("w"), text_push("gh"), nullptr, nullptr, true, false);
    EXPECT_EQ(get("w"), "abcdefgh");
    Cell seek = integer_cell(2);
    file_write_any(file_at("w"), text_push("ZZ"), &seek, nullptr, false, false);
    EXPECT_EQ(get("w"), "abZZefgh");  // a write at a position keeps the rest
    Cell part = integer_cell(2);
    int64_t n = file_write_any(file_at("w"), text_push("\xC3\xA9t\xC3\xA9"), nullptr, &part, false, false);
    EXPECT_EQ(get("w"), "\xC3\xA9t");  // part counts characters; the old content is gone
    EXPECT_EQ(n, 3);
    Cell far = integer_cell(4);
    file_write_any(file_at("new"), text_push("x"), &far, nullptr, false, false);
    EXPECT_EQ(get("new"), std::string("\0\0\0\0x", 5));
}

TEST_F(FileWrite, LinesAndMoldedValues) {
    run("write/lines %" + path("l") + " [\"a\" 1 \"b\" [c]]");
    EXPECT_EQ(get("l"), "a\n1\nb\n[c]\n");
    run("write/lines %" + path("one") + " \"x\"");
    EXPECT_EQ(get("one"), "x\n");
    run("write %" + path("m") + " [1 \"two\"]");
    EXPECT_EQ(get("m"), "[1 \"two\"]");
    EXPECT_EQ(run("read/lines %" + path("l")), "[\"a\" \"1\" \"b\" \"[c]\"]");
}

// A failed or short write is never reported as success, wherever in a block
// of lines it happens.
TEST_F(FileWrite, FailuresRaiseCannotOpen) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    const std::string full = "%/dev/full";
    for (const std::string& code : {"write " + full + " \"abc\"",
                                    "write/lines " + full + " [\"a\" \"b\"]",
                                    "write/append " + full + " #{00}",
                                    "write %" + path("no/such/file") + " \"x\"",
                                    "write/seek %" + path("s") + " \"x\" -1"}) {
        EXPECT_EQ(run_error(code), ACCESS_ERROR + ERR_CANNOT_OPEN) << code;
    }
    EXPECT_FALSE(std::filesystem::exists(path("s")));
    EXPECT_EQ(run_error("write/seek %" + path("s") + " \"x\" 1.5"), SCRIPT_ERROR + ERR_INVALID_REFINE_ARG);
    EXPECT_EQ(run_error("write/allow %" + path("s") + " \"x\" [read]"), INTERNAL_ERROR + ERR_NOT_DONE);
    EXPECT_EQ(run_error("read/as %" + path("s") + " 'utf-8"), INTERNAL_ERROR + ERR_NOT_DONE);
}

TEST_F(FileNames, DeleteRenameAndMakeDir) {
    put("a", "A");
    put("b", "B");
    EXPECT_FALSE(file_rename(file_at("a"), file_at("b")));  // never overwrites
    EXPECT_EQ(get("a"), "A");
    EXPECT_EQ(get("b"), "B");
    EXPECT_TRUE(file_rename(file_at("a"), file_at("c")));
    EXPECT_FALSE(std::filesystem::exists(path("a")));
    EXPECT_EQ(get("c"), "A");
    EXPECT_FALSE(file_rename(file_at("missing"), file_at("d")));

    EXPECT_FALSE(file_delete(file_at("missing")));
    EXPECT_TRUE(file_delete(file_at("c")));
    EXPECT_FALSE(file_exists_q(file_at("c")));

    EXPECT_TRUE(file_make_dir(file_at("d1")));
    EXPECT_FALSE(file_make_dir(file_at("d1")));  // exists already
    EXPECT_FALSE(file_make_dir(file_at("x/y")));  // one level only
    EXPECT_TRUE(file_exists_q(file_at("d1")));
    EXPECT_TRUE(file_exists_q(file_at("d1/")));
    EXPECT_FALSE(file_exists_q(file_at("d2")));
    put("d1/f", "");
    EXPECT_FALSE(file_delete(file_at("d1/")));  // not empty
    EXPECT_TRUE(file_delete(file_at("d1/f")));
    EXPECT_TRUE(file_delete(file_at("d1")));  // a directory without its slash
    EXPECT_FALSE(std::filesystem::exists(path("d1")));

    // Through the actions: logic results.
    put("k", "");
    EXPECT_EQ(run("rename %" + path("k") + " %" + path("l")), "true");
    EXPECT_EQ(run("delete %" + path("l")), "true");
    EXPECT_EQ(run("delete %" + path("l")), "false");
}

TEST_F(FileNames, QueryGivesTheModificationDateInUtc) {
    put("q", "x");
    timespec times[2] = {{0, UTIME_OMIT}, {1614834367, 500000000}};  // 2021-03-04 05:06:07.5 UTC
    ASSERT_EQ(utimensat(AT_FDCWD, path("q").c_str(), times, 0), 0);
    Cell* date = stack_push_new(T_NONE);
    ASSERT_TRUE(file_modified_date(file_at("q"), date));
    EXPECT_EQ(cell_type(date), T_DATE);
    EXPECT_EQ(date_year(date->w1), 2021);
    EXPECT_EQ(date_month(date->w1), 3);
    EXPECT_EQ(date_day(date->w1), 4);
    EXPECT_EQ(date_zone(date->w1), 0u);
    EXPECT_DOUBLE_EQ(date_seconds(date), 5 * 3600 + 6 * 60 + 7.5);
    // Before 1970 too.
    timespec early[2] = {{0, UTIME_OMIT}, {-86400, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path("q").c_str(), early, 0), 0);
    ASSERT_TRUE(file_modified_date(file_at("q"), date));
    EXPECT_EQ(date_year(date->w1), 1969);
    EXPECT_EQ(date_day(date->w1), 31);

    EXPECT_FALSE(file_modified_date(file_at("q/"), date));  // a plain file named as a folder
    EXPECT_FALSE(file_modified_date(file_at("missing"), date));
    std::filesystem::create_directory(path("d"));
    EXPECT_TRUE(file_modified_date(file_at("d/"), date));
    EXPECT_EQ(run("query %" + path("missing")), "none");
}

TEST_F(FileNames, DirectoryPathsByForm) {
    struct Case {
        const char* name;
        bool dir;
    };
    const Case cases[] = {
        {"", false},   {"a", false},    {"a/", true},   {".", true},     {"..", true},
        {"a/.", true}, {"a/..", true},  {"a.", false},  {"a..", false},  {"...", false},
        {"/", true},   {"a/b.c", false},
    };
    for (const Case& c : cases) {
        Cell* f = text_push(c.name);
        cell_type_set(f, T_FILE);
        f->w1 = series_buffer(f->w2)->length();  // judged from the head, whatever the position
        EXPECT_EQ(file_dir_path_q(f), c.dir) << c.name;
    }
}

} // namespace
} // namespace kel::testing
