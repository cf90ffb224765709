// Micro-benchmarks of the library: the reader with its default relays and the
// builder (a whole tree, then a streamed load), each over an export of every kind
// generated in memory and written once to a temporary file. Figures are bytes of
// input per second. The field writer's benchmarks are in field_bench.cpp.

#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <system_error>

#include "qvxml/document.h"
#include "qvxml/element.h"
#include "qvxml/xmlparse.h"

namespace
{

enum class export_kind { artists, locations, events };

constexpr std::size_t export_bytes = std::size_t(4) << 20; // per kind, roughly

// xorshift64: the same export on every run, without the cost of a library engine.
class dice
{
  public:
    explicit dice(std::uint64_t seed) : state_{seed} {}
    std::uint32_t next()
    {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return std::uint32_t(state_ >> 16);
    }
    std::size_t below(std::size_t n) { return next() % n; }
    bool chance(int percent) { return int(below(100)) < percent; }
    template <std::size_t N> std::string_view pick(const std::array<std::string_view, N> &from)
    {
        return from[below(N)];
    }

  private:
    std::uint64_t state_;
};

constexpr std::array<std::string_view, 10> first_names = {
    "Zoé", "Anaïs", "Jérôme", "Björn", "Çağla", "Noël", "Léa", "Mathis", "François", "Inès"};
constexpr std::array<std::string_view, 8> last_names = {
    "Marchand", "Lefèvre", "Müller", "García", "Brontë", "Dubois", "Østergaard", "Nakamura"};
constexpr std::array<std::string_view, 8> styles = {
    "Rock", "Pop", "Jazz", "Électro", "Chanson", "Hip-hop", "Musique du monde", "R&amp;B"};
constexpr std::array<std::string_view, 8> cities = {
    "Lyon", "Besançon", "Genève", "Montréal", "Liège", "Köln", "Saint-Étienne", "Nîmes"};
constexpr std::array<std::string_view, 12> words = {"soirée",    "concert", "with",   "the",
                                                    "orchestra", "and",     "guests", "première",
                                                    "acoustic",  "set",     "&amp;",  "live"};

class export_writer
{
  public:
    explicit export_writer(std::string &out) : out_{out} {}
    void open(int depth, std::string_view name)
    {
        indent(depth);
        out_.append("<").append(name).append(">\n");
    }
    void close(int depth, std::string_view name)
    {
        indent(depth);
        out_.append("</").append(name).append(">\n");
    }
    void leaf(int depth, std::string_view name, std::string_view value)
    {
        indent(depth);
        out_.append("<").append(name).append(">").append(value);
        out_.append("</").append(name).append(">\n");
    }

  private:
    void indent(int depth) { out_.append(std::size_t(2 * depth), ' '); }
    std::string &out_;
};

std::string person(dice &d)
{
    std::string s{d.pick(first_names)};
    s.append(" ").append(d.pick(last_names));
    if (d.chance(10)) s.append(" &amp; ").append(d.pick(first_names));
    return s;
}

std::string sentence(dice &d, std::size_t count)
{
    std::string s;
    for (std::size_t i = 0; i < count; ++i) {
        if (i) s.append(i % 9 == 0 ? "\n      " : " ");
        s.append(d.pick(words));
    }
    return s;
}

std::string stamp(dice &d)
{
    return std::to_string(1400000000 + d.below(200000000));
}

void put_artist(export_writer &w, dice &d, std::size_t id)
{
    const std::string n = std::to_string(id);
    w.open(1, "artist");
    w.leaf(2, "id", n);
    w.leaf(2, "name", person(d));
    w.leaf(2, "creationDate", stamp(d));
    if (d.chance(70)) w.leaf(2, "modificationDate", stamp(d));
    w.leaf(2, "picture", "https://media.example.org/artists/" + n + ".jpg");
    if (d.chance(60)) w.leaf(2, "website", "https://artist-" + n + ".example.org/?a=1&amp;b=2");
    if (d.chance(40)) w.leaf(2, "twitterID", "artist_" + n);
    for (std::size_t k = d.below(4); k > 0; --k)
        w.leaf(2, "artistStyle",
               "<id>" + std::to_string(k) + "</id><label>" + std::string{d.pick(styles)} +
                   "</label>");
    w.leaf(2, "description", sentence(d, 10 + d.below(30)));
    w.close(1, "artist");
}

void put_contact(export_writer &w, dice &d, int depth, bool full)
{
    w.open(depth, "contact");
    w.leaf(depth + 1, "email", "billetterie@example.org");
    if (full) {
        w.leaf(depth + 1, "addressLine1",
               std::to_string(1 + d.below(120)) + " rue de la République");
        w.leaf(depth + 1, "zipCode", std::to_string(10000 + d.below(80000)));
    }
    w.leaf(depth + 1, "city", d.pick(cities));
    w.leaf(depth + 1, "country", "France");
    if (full) {
        w.leaf(depth + 1, "phone1",
               (d.chance(50) ? "06" : "04") + std::to_string(10000000 + d.below(89999999)));
        w.leaf(depth + 1, "lattitude", "45." + std::to_string(d.below(10000)));
        w.leaf(depth + 1, "longitude", "4." + std::to_string(d.below(10000)));
    }
    w.close(depth, "contact");
}

void put_location(export_writer &w, dice &d, std::size_t id)
{
    const std::string n = std::to_string(id);
    w.open(1, "location");
    w.leaf(2, "id", n);
    w.leaf(2, "name", "Salle " + std::string{d.pick(last_names)});
    w.leaf(2, "creationDate", stamp(d));
    w.leaf(2, "logo", "https://media.example.org/places/" + n + ".png");
    w.leaf(2, "website", "https://place-" + n + ".example.org");
    if (d.chance(75)) put_contact(w, d, 2, true);
    w.close(1, "location");
}

void put_event(export_writer &w, dice &d, std::size_t id)
{
    w.open(1, "eventDescription");
    w.leaf(2, "id", std::to_string(id));
    w.leaf(2, "creationDate", stamp(d));
    if (d.chance(85)) {
        w.open(2, "artist");
        w.leaf(3, "artistId", std::to_string(d.below(5000)));
        w.leaf(3, "name", person(d));
        w.close(2, "artist");
    }
    w.open(2, "location");
    w.leaf(3, "id", std::to_string(d.below(800)));
    w.leaf(3, "name", "Salle " + std::string{d.pick(last_names)});
    put_contact(w, d, 3, false);
    w.close(2, "location");
    w.open(2, "event");
    w.leaf(3, "title", sentence(d, 2 + d.below(4)) + (d.chance(5) ? " | tournée" : ""));
    w.leaf(3, "eventType", "<id>" + std::to_string(1 + d.below(7)) + "</id>");
    w.close(2, "event");
    w.open(2, "eventSchedule");
    for (std::size_t k = 1 + d.below(5); k > 0; --k)
        w.leaf(3, "eventScheduleDate",
               "<date>2016-10-" + std::to_string(10 + d.below(20)) +
                   "</date><startHour>20:30</startHour><endHour>23:00</endHour>");
    w.close(2, "eventSchedule");
    w.close(1, "eventDescription");
}

std::string make_export(export_kind kind)
{
    constexpr std::array<std::string_view, 3> roots = {"artists", "locations", "scheduledEvents"};
    const std::string_view root = roots[std::size_t(kind)];
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    out.reserve(export_bytes + 4096);
    export_writer w{out};
    dice d{0x9e3779b97f4a7c15ULL + std::uint64_t(kind)};
    w.open(0, root);
    for (std::size_t id = 1; out.size() < export_bytes; ++id) {
        switch (kind) {
        case export_kind::artists:
            put_artist(w, d, id);
            break;
        case export_kind::locations:
            put_location(w, d, id);
            break;
        case export_kind::events:
            put_event(w, d, id);
            break;
        }
    }
    w.close(0, root);
    return out;
}

// The three exports live in temporary files for the whole run and are removed at exit.
class export_files
{
  public:
    ~export_files()
    {
        std::error_code ignored;
        if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
    }
    // The file of this kind (written on first use) and its size; an empty path when
    // it could not be written.
    const std::string &path(export_kind kind, std::size_t &bytes)
    {
        entry &e = entries_[std::size_t(kind)];
        if (e.path.empty()) write(kind, e);
        bytes = e.bytes;
        return e.path;
    }

  private:
    struct entry {
        std::string path;
        std::size_t bytes = 0;
    };
    void write(export_kind kind, entry &e)
    {
        if (dir_.empty()) {
            std::string pattern =
                (std::filesystem::temp_directory_path() / "qvxml-bench-XXXXXX").string();
            if (!mkdtemp(pattern.data())) return;
            dir_ = pattern;
        }
        const std::string text = make_export(kind);
        const std::string p = dir_ + "/export-" + std::to_string(int(kind)) + ".xml";
        std::ofstream f{p, std::ios::binary};
        if (!f.write(text.data(), std::streamsize(text.size()))) return;
        e.path = p;
        e.bytes = text.size();
    }
    std::string dir_;
    std::array<entry, 3> entries_;
};

export_files exports;

// Default relays collect every piece of content in the context's buffer; emptying
// it at each closing tag keeps the buffer at the size of one element's text.
int forget_text(xml_application *x)
{
    x->offset = 0;
    x->buffer[0] = '\0';
    return 0;
}

// Times one kind of load over the export of a kind, in bytes per second. load takes
// the file name and says whether the load worked.
template <typename Load>
void time_loads(benchmark::State &state, export_kind kind, const char *what, Load load)
{
    std::size_t bytes = 0;
    const std::string &file = exports.path(kind, bytes);
    if (file.empty()) {
        state.SkipWithError("cannot write the export");
        return;
    }
    for (auto _ : state) {
        if (!load(file.c_str())) {
            state.SkipWithError(what);
            return;
        }
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(bytes));
}

void reader_default_relays(benchmark::State &state, export_kind kind)
{
    time_loads(state, kind, "xml_parse failed", [](const char *file) {
        xml_relay relays{};
        relays.close_tag = forget_text;
        return xml_parse(file, &relays, nullptr) == 0;
    });
}

// The run relay in place of the per-character content relays: the content is
// counted, not kept, so the figure is the reader's own.
int count_run(xml_application *x, const char *, int length)
{
    x->nested += length;
    return 0;
}

void reader_content_runs(benchmark::State &state, export_kind kind)
{
    time_loads(state, kind, "xml_parse failed", [](const char *file) {
        xml_relay relays{};
        relays.content_run = count_run;
        return xml_parse(file, &relays, nullptr) == 0;
    });
}

void builder_whole_tree(benchmark::State &state, export_kind kind)
{
    time_loads(state, kind, "document_parse_file failed", [](const char *file) {
        xml_element *root = document_parse_file(file);
        document_drop(root);
        return root != nullptr;
    });
}

void builder_streamed(benchmark::State &state, export_kind kind)
{
    time_loads(state, kind, "document_stream_file failed", [](const char *file) {
        const document_stream no_callbacks{};
        return document_stream_file(file, &no_callbacks) != 0;
    });
}

} // namespace

BENCHMARK_CAPTURE(reader_default_relays, artists, export_kind::artists)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(reader_default_relays, locations, export_kind::locations)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(reader_default_relays, events, export_kind::events)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(reader_content_runs, artists, export_kind::artists)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(reader_content_runs, locations, export_kind::locations)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(reader_content_runs, events, export_kind::events)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(builder_whole_tree, artists, export_kind::artists)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(builder_whole_tree, locations, export_kind::locations)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(builder_whole_tree, events, export_kind::events)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(builder_streamed, artists, export_kind::artists)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(builder_streamed, locations, export_kind::locations)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(builder_streamed, events, export_kind::events)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
