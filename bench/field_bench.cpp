// Micro-benchmarks of the converter's field writer: the escaping of one field into a
// text store (as the event listing builds its common text) and into the held
// records (as every listing writes its lines).

#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <cstring>

#include "veltran/record.h"

namespace
{

// A title as the exports have them: no character to escape.
constexpr const char plain_text[] = "Zoé Marchand et l'Orchestre de chambre de Besançon en concert";
// A title with separators inside, each written as an escape.
constexpr const char bar_text[] =
    "Zoé Marchand | Tournée d'automne | Salle Rameau | Lyon | complet";
// A description written on several indented lines, each line feed written as a blank.
constexpr const char multiline_text[] =
    "Singer and songwriter from Besançon.\n"
    "      Her second album mixes chanson with electronic textures,\n"
    "      recorded live in Montréal &amp; Genève.\n"
    "      On tour from October with a string quartet.\n"
    "    ";

constexpr std::size_t store_capacity = 8192; // the size of the event listing's common text
constexpr std::size_t held_limit = std::size_t(1) << 20; // held records are forgotten past this

void buffered_field(benchmark::State &state, const char *text)
{
    std::array<char, store_capacity> store{};
    for (auto _ : state) {
        field_sink sink{store.data(), store.size(), 0};
        put_field(sink, text, 1);
        benchmark::DoNotOptimize(store.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(std::strlen(text)));
}

void held_field(benchmark::State &state, const char *text)
{
    held_records records;
    field_sink sink{records};
    for (auto _ : state) {
        put_field(sink, text, 1);
        if (records.size() > held_limit) { // stay in memory, clear of the temporary file
            state.PauseTiming();
            records.clear();
            state.ResumeTiming();
        }
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(std::strlen(text)));
}

} // namespace

BENCHMARK_CAPTURE(buffered_field, plain, plain_text);
BENCHMARK_CAPTURE(buffered_field, with_bars, bar_text);
BENCHMARK_CAPTURE(buffered_field, multiline, multiline_text);
BENCHMARK_CAPTURE(held_field, plain, plain_text);
BENCHMARK_CAPTURE(held_field, with_bars, bar_text);
BENCHMARK_CAPTURE(held_field, multiline, multiline_text);
