// A runtime with the natives and the file! datatype, and a temporary folder
// that each test starts empty and that is removed afterwards. Files are made
// and checked with the standard library, independently of the code under test.
#pragma once
#include "core/string.hpp"
#include "datatypes/file.hpp"
#include "io/files.hpp"
#include "tests/core/string_fixture.hpp"
#include "tests/natives/natives_fixture.hpp"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace kel::testing {

struct FilesTest : NativesTest {
    std::string dir;  // the temporary folder, without a trailing "/"

    void SetUp() override {
        NativesTest::SetUp();
        file_actions_register();
        char pattern[] = "/tmp/kel-files-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
        NativesTest::TearDown();
    }

    std::string path(const std::string& name) const { return dir + "/" + name; }

    // A file! of the name inside the folder (a name starting with "/" stands
    // as it is), pushed on the data stack.
    Cell* file_at(const std::string& name) const {
        Cell* c = text_push(name.size() && name[0] == '/' ? name : path(name));
        cell_type_set(c, T_FILE);
        return c;
    }

    void put(const std::string& name, const std::string& bytes) const {
        std::ofstream out(path(name), std::ios::binary);
        out << bytes;
    }
    std::string get(const std::string& name) const {
        std::ifstream in(path(name), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    // What file_read_any gives, pushed on the data stack.
    Cell* read(const std::string& name, const Cell* part = nullptr, const Cell* seek = nullptr,
               bool binary = false, bool lines = false) const {
        Cell* file = file_at(name);
        Cell* out = stack_push_new(T_NONE);
        file_read_any(file, part, seek, binary, lines, out);
        return out;
    }

    // The strings of a block of strings (or files).
    static std::vector<std::string> texts_of(const Cell* block) {
        std::vector<std::string> texts;
        for (uint32_t i = 0; i < block_length(block); i++) texts.push_back(text_of(&block_cells(block)[i]));
        return texts;
    }
};

} // namespace kel::testing
