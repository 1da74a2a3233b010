#include "io/files.hpp"

#include "core/actions.hpp"
#include "core/block.hpp"
#include "core/error.hpp"
#include "core/logic.hpp"
#include "core/numbers.hpp"
#include "core/registry.hpp"
#include "core/series.hpp"
#include "core/stack.hpp"
#include "core/string.hpp"
#include "core/unicode.hpp"
#include "core/vocabulary.hpp"
#include "datatypes/date.hpp"
#include "datatypes/file.hpp"
#include "runtime/collector.hpp"
#include "runtime/platform/fs.hpp"
#include "runtime/platform/platform.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace kel {

// The most bytes one read may return: the largest series buffer.
constexpr uint64_t FILE_READ_MAX = 0x7FFFFFF0;
// Step by which a file of unknown size is read.
constexpr uint64_t FILE_READ_CHUNK = 65536;

// ---- names -----------------------------------------------------------------------------------

// The local path of a file, or access error cannot-open with the file when the
// name cannot reach the OS.
static std::string file_path_or_raise(const Cell* file) {
    std::string path;
    if (!file_to_local(file, &path)) error_raise(ERR_CANNOT_OPEN, file);
    return path;
}

// The largest offset or count a float refinement argument may give: 2^53,
// past which a double no longer holds every integer.
constexpr double FILE_OFFSET_MAX = 9007199254740992.0;

// The value of an optional offset or count refinement argument (an integer,
// or an integral float for files past the integer range), or fallback when it
// was not given; any other value raises script error invalid-refine-arg.
static int64_t refinement_offset(const Cell* arg, RuntimeRefinement which, int64_t fallback) {
    if (!arg) return fallback;
    if (cell_type(arg) == T_INTEGER) return cell_int(arg);
    if (cell_type(arg) == T_FLOAT) {
        double d = float_get(arg);
        if (d == std::trunc(d) && std::fabs(d) <= FILE_OFFSET_MAX) return int64_t(d);
    }
    error_raise(ERR_INVALID_REFINE_ARG, runtime_refinement(which), arg);
}

// ---- reading --------------------------------------------------------------------------------------

void lines_to_block(const uint8_t* bytes, uint64_t length, Cell* out) {
    uint32_t count = 0;
    for (uint64_t i = 0; i < length; i++) count += bytes[i] == '\n';
    block_make_at(out, int32_t(std::min<uint64_t>(count + 1, 0x7FFFFFF)));
    uint64_t start = 0;
    while (start < length) {
        const uint8_t* lf = static_cast<const uint8_t*>(std::memchr(bytes + start, '\n', length - start));
        uint64_t end = lf ? uint64_t(lf - bytes) : length;
        uint64_t stop = end;
        if (lf && stop > start && bytes[stop - 1] == '\r') stop--;
        string_load_in(bytes + start, uint32_t(stop - start), series_node(out), ENCODING_UTF8);
        start = end + 1;
    }
}

// Reads from the descriptor's position up to limit bytes (all when the size
// is unknown and no limit is set) into bytes. known is the bytes expected, or
// -1 when the OS reports no size (special files). False on a read failure.
static bool file_read_bytes(int fd, int64_t known, uint64_t limit, const Cell* file,
                            std::vector<uint8_t>* bytes) {
    if (known >= 0) {
        uint64_t want = std::min<uint64_t>(uint64_t(known), limit);
        if (want > FILE_READ_MAX) error_raise(ERR_SIZE_LIMIT, file);
        bytes->resize(size_t(want));
        int64_t got = file_read(fd, bytes->data(), want);
        if (got < 0) return false;
        bytes->resize(size_t(got));  // the file may have shrunk meanwhile
        return true;
    }
    for (;;) {
        uint64_t have = bytes->size();
        if (have >= limit) break;
        uint64_t step = std::min<uint64_t>(FILE_READ_CHUNK, limit - have);
        if (have + step > FILE_READ_MAX) error_raise(ERR_SIZE_LIMIT, file);
        bytes->resize(size_t(have + step));
        int64_t got = file_read(fd, bytes->data() + have, step);
        if (got < 0) return false;
        bytes->resize(size_t(have + uint64_t(got)));
        if (uint64_t(got) < step) break;
    }
    return true;
}

// The bytes of a file, from seek (when >= 0) and at most part (when >= 0).
// False when it cannot be opened or read.
static bool file_read_file(const std::string& path, int64_t part, int64_t seek, const Cell* file,
                           std::vector<uint8_t>* bytes) {
    int fd = file_open(path.c_str(), FILE_MODE_READ);
    if (fd < 0) return false;
    int64_t size = file_size(fd);
    bool ok = size >= 0;
    // Special files (under /proc, devices) report 0 and are read to their end.
    int64_t known = size > 0 ? size : -1;
    if (ok && seek >= 0) {
        ok = file_seek(fd, seek);
        if (known >= 0) known = std::max<int64_t>(known - seek, 0);
    }
    uint64_t limit = part >= 0 ? uint64_t(part) : UINT64_MAX;
    if (ok) {
        try {
            ok = file_read_bytes(fd, known, limit, file, bytes);
        } catch (...) {
            file_close(fd);
            throw;
        }
    }
    file_close(fd);
    return ok;
}

void file_read_dir(const Cell* dir, Cell* out) {
    CellRoot held(*dir);
    std::string path = file_path_or_raise(&held.cell);
    std::vector<DirEntry> entries;
    if (!dir_list(path.c_str(), &entries)) error_raise(ERR_CANNOT_OPEN, &held.cell);
    // The OS keeps no stable order: names sort by their bytes.
    std::sort(entries.begin(), entries.end(),
              [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
    block_make_at(out, int32_t(std::min<size_t>(entries.size(), 0x7FFFFFF)));
    for (DirEntry& e : entries) {
        if (e.directory) e.name += '/';
        Cell* cell = string_load_in(reinterpret_cast<const uint8_t*>(e.name.data()),
                                    uint32_t(e.name.size()), series_node(out), ENCODING_OS);
        cell_type_set(cell, T_FILE);
    }
}

void file_read_any(const Cell* file, const Cell* part, const Cell* seek, bool binary, bool lines,
                   Cell* out) {
    CellRoot held(*file);
    int64_t part_n = refinement_offset(part, REF_PART, -1);
    int64_t seek_n = refinement_offset(seek, REF_SEEK, -1);
    if (file_dir_path_q(&held.cell)) {
        file_read_dir(&held.cell, out);
        return;
    }
    std::string path = file_path_or_raise(&held.cell);
    std::vector<uint8_t> bytes;
    if (!file_read_file(path, part_n, seek_n, &held.cell, &bytes))
        error_raise(ERR_CANNOT_OPEN, &held.cell);
    uint32_t n = uint32_t(bytes.size());
    if (binary) {
        Node node = series_new_bytes(n);
        SeriesBuffer* b = series_buffer(node);
        if (n) std::memcpy(b->head_ptr(), bytes.data(), n);
        b->tail = b->head + n;
        series_make_at(out, T_BINARY, node, 0);
    } else if (lines) {
        lines_to_block(bytes.data(), n, out);
    } else {
        string_load(bytes.data(), n, ENCODING_UTF8, out);
    }
}

// ---- writing ----------------------------------------------------------------------------------------

// Appends one value's bytes (see file_write_any) with at most part characters
// or bytes (part < 0: all) to bytes.
static void value_bytes(const Cell* value, int64_t part, std::vector<uint8_t>* bytes) {
    CellRoot text(*value);
    uint8_t type = cell_type(value);
    if (type == T_BINARY) {
        uint32_t length = series_length_at(&text.cell, false);
        uint32_t count = part >= 0 ? uint32_t(std::min<int64_t>(part, length)) : length;
        SeriesBuffer* b = series_buffer_of(&text.cell);
        const uint8_t* at = b->head_ptr() + series_index_clamped(&text.cell);
        bytes->insert(bytes->end(), at, at + count);
        return;
    }
    if (type != T_STRING) dispatch_mold(value, &text.cell, false, false, false, -1);
    uint32_t length = string_ks_length_q(&text.cell);
    int32_t count = part >= 0 ? int32_t(std::min<int64_t>(part, length)) : -1;
    const uint8_t* utf8 = to_utf8(&text.cell, &count);
    bytes->insert(bytes->end(), utf8, utf8 + count);
}

// The bytes write gives the file: see file_write_any.
static void file_write_bytes(const Cell* value, int64_t part, bool lines, std::vector<uint8_t>* bytes) {
    uint8_t type = cell_type(value);
    if (!lines || (type != T_BLOCK && type != T_HASH)) {
        value_bytes(value, part, bytes);
        if (lines) bytes->push_back('\n');
        return;
    }
    // Every value of the block from its position, each on its own line.
    CellRoot block(*value);
    for (uint32_t i = series_index_clamped(&block.cell);; i++) {
        SeriesBuffer* b = series_buffer_of(&block.cell);
        if (i >= b->length()) break;
        CellRoot item(block_cells(b)[i]);
        value_bytes(&item.cell, -1, bytes);
        bytes->push_back('\n');
    }
}

// Writes the bytes at the file's end (append) or at seek (>= 0), keeping the
// rest of its content. False on failure.
static bool file_write_at(const std::string& path, const std::vector<uint8_t>& bytes, bool append,
                          int64_t seek) {
    uint32_t mode = FILE_MODE_WRITE | (append ? FILE_MODE_APPEND : FILE_MODE_SEEK);
    int fd = file_open(path.c_str(), mode);
    if (fd < 0) return false;
    bool ok = append || seek <= 0 || file_seek(fd, seek);
    ok = ok && fd_write_all(fd, bytes.data(), bytes.size());
    return file_close(fd) && ok;
}

int64_t file_write_any(const Cell* file, const Cell* value, const Cell* seek, const Cell* part,
                       bool append, bool lines) {
    CellRoot target;
    if (file) target.cell = *file;
    int64_t seek_n = refinement_offset(seek, REF_SEEK, -1);
    int64_t part_n = refinement_offset(part, REF_PART, -1);
    // The bytes are made whole before the file is touched: a value that cannot
    // be molded leaves the file as it was.
    std::vector<uint8_t> bytes;
    file_write_bytes(value, part_n, lines, &bytes);
    bool ok = !(seek && seek_n < 0);
    if (ok && !file) {
        ok = fd_write_all(STDOUT_FD, bytes.data(), bytes.size());
    } else if (ok) {
        std::string path;
        ok = file_to_local(&target.cell, &path);
        if (ok && (append || seek)) ok = file_write_at(path, bytes, append, seek_n);
        else if (ok) ok = file_write_whole(path.c_str(), bytes.data(), bytes.size());
    }
    if (!ok) {
        if (file) error_raise(ERR_CANNOT_OPEN, &target.cell);
        error_raise(ERR_CANNOT_OPEN);
    }
    return int64_t(bytes.size());
}

// ---- directories, names, dates -----------------------------------------------------------------

bool file_delete(const Cell* file) {
    std::string path;
    if (!file_to_local(file, &path)) return false;
    bool directory = file_dir_path_q(file) || path_is_dir(path.c_str());
    return path_remove(path.c_str(), directory);
}

bool file_rename(const Cell* file, const Cell* to) {
    std::string from_path, to_path;
    if (!file_to_local(file, &from_path) || !file_to_local(to, &to_path)) return false;
    return path_rename(from_path.c_str(), to_path.c_str());
}

bool file_modified_date(const Cell* file, Cell* out) {
    std::string path;
    if (!file_to_local(file, &path)) return false;
    // A trailing "/" asks for a directory; the OS refuses it for anything else.
    int64_t seconds;
    int32_t nanoseconds;
    if (!path_modified(path.c_str(), &seconds, &nanoseconds)) return false;
    if (file_dir_path_q(file) && !path_is_dir(path.c_str())) return false;
    int64_t days = seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
    int64_t in_day = seconds - days * 86400;
    uint32_t packed = date_from_day_number(DATE_EPOCH_DAY + days, 0, true);
    date_from_fields(out, date_year(packed), date_month(packed), date_day(packed),
                     int32_t(in_day / 3600), int32_t(in_day / 60 % 60), int32_t(in_day % 60),
                     nanoseconds);
    return true;
}

bool file_make_dir(const Cell* file) {
    std::string path;
    return file_to_local(file, &path) && dir_make(path.c_str());
}

bool file_exists_q(const Cell* file) {
    std::string path;
    return file_to_local(file, &path) && path_exists(path.c_str());
}

// ---- the file! actions that reach files ---------------------------------------------------

void file_delete_action(Cell* file) {
    bool done = file_delete(file);
    logic_make_at(file, done);
}

void file_query(Cell* file) {
    CellRoot date;
    if (file_modified_date(file, &date.cell)) cell_copy(&date.cell, file);
    else none_make_at(file);
}

void file_read_action(Cell* file, const Cell* part, const Cell* seek, bool binary, bool lines,
                      bool, const Cell* as) {
    if (as) error_raise(ERR_NOT_DONE);
    CellRoot result;
    file_read_any(file, part, seek, binary, lines, &result.cell);
    cell_copy(&result.cell, file);
}

void file_rename_action(Cell* file, const Cell* to) {
    if (!string_family_q(cell_type(to))) error_raise(ERR_INVALID_ARG, to);
    bool done = file_rename(file, to);
    logic_make_at(file, done);
}

void file_write_action(Cell* file, const Cell* data, bool, bool lines, bool, bool append,
                       const Cell* part, const Cell* seek, const Cell* allow, const Cell* as) {
    if (allow || as) error_raise(ERR_NOT_DONE);
    file_write_any(file, data, seek, part, append, lines);
    unset_make_at(file);
}

void file_actions_register() {
    const ActionRow actions[] = {
        {A_DELETE, file_delete_action},
        {A_QUERY, file_query},
        {A_READ, file_read_action},
        {A_RENAME, file_rename_action},
        {A_WRITE, file_write_action},
    };
    datatype_actions_set(T_FILE, actions);
}

} // namespace kel
