// Function calls through the interpreter: a block of 1000 calls of a
// one-argument function, evaluated once per iteration. The per-call figure
// is the iteration time divided by 1000 (the "per_call" counter).
//   plain:  f: func [x] [x]           [f 1 f 1 ...]
//   return: g: func [x] [return x]    [g 1 g 1 ...]
#include "core/context.hpp"
#include "core/function.hpp"
#include "core/hashtable.hpp"
#include "core/interpreter.hpp"
#include "core/natives_table.hpp"
#include "core/series.hpp"
#include "core/stack.hpp"
#include "runtime/collector.hpp"
#include "program/start.hpp"
#include "runtime/start.hpp"
#include <benchmark/benchmark.h>

#include <cstdlib>

using namespace kel;

namespace {

constexpr uint32_t CALLS = 1000;
constexpr uint32_t NATIVE_RETURN = 80;

ExitCode bench_return(bool, const int32_t*) { return stack_throw_return(true); }

// Appends a held value to a block held in the root block's cell list.
void append(Node block, const Cell* value) {
    cell_series_append_value(block, value);
}

Cell block_cell(Node node) {
    Cell c;
    cell_init(&c, T_BLOCK);
    c.w2 = node;
    return c;
}

// Sets the global word of the name to a function of one argument x whose
// body is [x], or [return x] with the return native.
void define_function(const char* name, bool with_return) {
    CellRoot spec(block_cell(series_new_cells(1)));
    CellRoot x(word_intern("x"));
    append(series_node(&spec.cell), &x.cell);
    CellRoot body(block_cell(series_new_cells(2)));
    if (with_return) {
        CellRoot ret(word_intern("return"));
        append(series_node(&body.cell), &ret.cell);
    }
    x.cell = word_intern("x");
    append(series_node(&body.cell), &x.cell);
    CellRoot fn;
    function_make_at(&fn.cell, &spec.cell, &body.cell, 0, nullptr, nullptr, 0);
    CellRoot word(word_intern(name));
    word_set(&word.cell, &fn.cell);
}

void runtime_ready() {
    static bool ready = false;
    if (ready) return;
    ready = true;
    runtime_init();
    startup_logging = false;
    native_register_at(NATIVE_RETURN, bench_return);
    CellRoot spec(block_cell(series_new_cells(1)));
    CellRoot value(word_intern("value"));
    append(series_node(&spec.cell), &value.cell);
    CellRoot native;
    native_make_at(&native.cell, &spec.cell, NATIVE_RETURN, T_NATIVE);
    CellRoot word(word_intern("return"));
    word_set(&word.cell, &native.cell);
    define_function("f", false);
    define_function("g", true);
    collector.enabled = true;
}

void run_calls(benchmark::State& state, const char* name) {
    runtime_ready();
    CellRoot code(block_cell(series_new_cells(CALLS * 2)));
    for (uint32_t i = 0; i < CALLS; i++) {
        CellRoot fn(word_intern(name));
        append(series_node(&code.cell), &fn.cell);
        Cell one;
        cell_init(&one, T_INTEGER);
        one.w2 = 1;
        append(series_node(&code.cell), &one);
    }
    Cell* top = data_stack.top;
    for (auto _ : state) {
        if (eval_block(&code.cell, true) != EXIT_CODE_NONE) std::abort();
        data_stack.top = top;  // the block's value stays pushed: drop it
        benchmark::DoNotOptimize(data_stack.args->w2);
    }
    state.counters["per_call"] = benchmark::Counter(
        double(state.iterations()) * CALLS, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_call(benchmark::State& state) { run_calls(state, "f"); }
void BM_call_return(benchmark::State& state) { run_calls(state, "g"); }

BENCHMARK(BM_call);
BENCHMARK(BM_call_return);

} // namespace

BENCHMARK_MAIN();
