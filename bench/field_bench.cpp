// Micro-benchmarks of the converter's field writer: the escaping of one field into a
// text store (bstring_field) and to standard output (string_field). The writers and
// their sink are private to the converter's one source file, so that file is compiled
// here whole, its main renamed out of the way.

#define main veltran_main
#include "../veltran/veltran.cpp"
#undef main

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

namespace {

// A title as the exports have them: no character to escape.
constexpr const char plain_text[] = "Zoé Marchand et l'Orchestre de chambre de Besançon en concert";
// A title with separators inside, each written as an escape.
constexpr const char bar_text[] = "Zoé Marchand | Tournée d'automne | Salle Rameau | Lyon | complet";
// A description written on several indented lines, each line feed written as a blank.
constexpr const char multiline_text[] =
    "Singer and songwriter from Besançon.\n"
    "      Her second album mixes chanson with electronic textures,\n"
    "      recorded live in Montréal &amp; Genève.\n"
    "      On tour from October with a string quartet.\n"
    "    ";

constexpr std::size_t store_capacity = 8192; // the size of the event listing's common text

void buffered_field(benchmark::State &state, const char *text)
{
    std::array<char, store_capacity> store{};
    for (auto _ : state) {
        field_sink sink{store.data(), store.size(), 0};
        bstring_field(sink, text, 1);
        benchmark::DoNotOptimize(store.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(std::strlen(text)));
}

// Sends standard output to /dev/null for the life of the object, then puts it back,
// so that the benchmark's own report still reaches the terminal.
class stdout_to_null {
public:
    stdout_to_null()
    {
        std::fflush(stdout);
        saved_ = dup(STDOUT_FILENO);
        const int null = open("/dev/null", O_WRONLY);
        if (saved_ < 0 || null < 0 || dup2(null, STDOUT_FILENO) < 0) failed_ = true;
        if (null >= 0) close(null);
    }
    ~stdout_to_null()
    {
        output.flush(); // what the converter still buffers goes to /dev/null too
        std::fflush(stdout);
        if (saved_ >= 0) {
            dup2(saved_, STDOUT_FILENO);
            close(saved_);
        }
    }
    stdout_to_null(const stdout_to_null &) = delete;
    stdout_to_null &operator=(const stdout_to_null &) = delete;
    bool failed() const { return failed_; }

private:
    int saved_ = -1;
    bool failed_ = false;
};

void unbuffered_field(benchmark::State &state, const char *text)
{
    stdout_to_null quiet;
    if (quiet.failed()) {
        state.SkipWithError("cannot send standard output to /dev/null");
        return;
    }
    for (auto _ : state) string_field(text, 1);
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(std::strlen(text)));
}

} // namespace

BENCHMARK_CAPTURE(buffered_field, plain, plain_text);
BENCHMARK_CAPTURE(buffered_field, with_bars, bar_text);
BENCHMARK_CAPTURE(buffered_field, multiline, multiline_text);
BENCHMARK_CAPTURE(unbuffered_field, plain, plain_text);
BENCHMARK_CAPTURE(unbuffered_field, with_bars, bar_text);
BENCHMARK_CAPTURE(unbuffered_field, multiline, multiline_text);
