// The tracked allocator, the document tree, entity and quote conversion, and what a
// parse leaves to its caller (the application context, the value readers and writers).
// Most cases are data under data/, one per line with tab-separated fields, "(none)"
// standing for an absent text. The reader's events, statuses, line counts, collected
// text and echo are checked against the reference reader (properties.cpp).

#include <random>
#include <sstream>
#include <thread>

#include "properties.h"
#include "qvxml/internal/content_scan.h"
#include "test_support.h"

namespace
{

// The rows of data/<name>, each padded to fields (a last field left empty).
std::vector<std::vector<std::string>> rows(const std::string &name, std::size_t fields)
{
    std::vector<std::vector<std::string>> out;
    std::istringstream lines(read_file(std::string(QVXML_TEST_DATA) + "/" + name));
    for (std::string line; std::getline(lines, line); out.back().resize(fields)) {
        std::istringstream row(line);
        out.emplace_back();
        for (std::string field; std::getline(row, field, '\t');)
            out.back().push_back(field);
    }
    EXPECT_FALSE(out.empty()) << name;
    return out;
}
const auto given = [](const std::string &f) { return f == "(none)" ? nullptr : f.c_str(); };
const auto shown = [](const char *s) { return std::string(s ? s : "(none)"); };
const auto compact = [](const xml_element *e) { return captured_stdout([&] { show_element(e); }); };
const auto exact = [](const char *s) { return !s || header_of(s)->size == std::strlen(s) + 1; };

// The indented text of the chain from e; both writers must produce the same bytes.
std::string indented(const xml_element *e, int level = 0)
{
    std::string text = captured_stdout([&] { document_show_element(e, level); });
    EXPECT_EQ(text, written([&](FILE *h) { document_serialise_element(h, e, level); }));
    return text;
}

class Library : public InTempDir
{
  protected:
    owned_tree load(const std::string &xml)
    {
        return write_file("in.xml", xml), owned_tree{document_parse_file("in.xml")};
    }
};
using Allocator = Library;

// ---------------------------------------------------------------------------
// The allocator

// From reset counters: both kinds come zero-filled, aligned, marked and counted in
// requested bytes; a negative size gives null uncounted; either release takes either kind.
TEST(AllocatorBlocks, BothKindsComeZeroFilledAlignedAndCounted)
{
    reset_allocate_statistics();
    std::vector<unsigned char *> blocks;
    for (int i = 0; i < 12; ++i) {
        auto *p = static_cast<unsigned char *>(i % 2 ? allocate_secure(i * i) : allocate(i * i));
        EXPECT_EQ(std::tuple(std::uintptr_t(p) % alignof(std::max_align_t),
                             std::count(p, p + i * i, 0), header_of(p)->secure),
                  std::tuple(0u, i * i, i % 2));
        blocks.push_back(p);
    }
    EXPECT_EQ(allocate(-1), allocate_secure(-8));
    const alloc_counts held = counts_now();
    for (std::size_t i = 0; i < blocks.size(); ++i)
        EXPECT_EQ(i % 2 ? liberate(blocks[i]) : liberate_secure(blocks[i]), nullptr);
    const alloc_counts end = counts_now();
    EXPECT_EQ(std::tuple(held.a, held.l, held.t, end.a, end.l, end.t),
              std::tuple(12ul, 0ul, 506ull, 12ul, 12ul, 0ull));
}

// The report on standard output shows ordinary allocations only. The trace log
// "qv-mem-log" is appended to, a line "time:pid:pid:memory:allocate|liberate:count:
// address:size" per traced allocation and release of either kind. liberate_element
// releases each block once: the children (each whole subtree in document order), then
// the attributes (name, value, record), then the element's own name, value and record.
TEST_F(Allocator, ReportAndTraceLogInReleaseOrder)
{
    void *p = nullptr;
    const std::string report = captured_stdout([&] {
        liberate(allocate(24)), allocation_trace(1); // both off
        liberate(allocate_secure(24)), liberate(p = allocate(24)), allocation_trace(0);
    });
    EXPECT_EQ(report, std::to_string(counts_now().a) + " allocate 24 " + address_of(p) + "\n");
    const int was = set_memory_trace(7);
    EXPECT_EQ(std::tuple(was, set_memory_trace(0), std::filesystem::exists("qv-mem-log")),
              std::tuple(0, 7, false));
    write_file("qv-mem-log", "earlier run\n");
    xml_element *root =
        load("<r rk='1'>rv<c1 c1k='1'>c1v<c1g/></c1><c2 c2k='2'>v<c2g/></c2></r>").release();
    const std::string pid = std::to_string(getpid());
    std::vector<std::string> expected = {"earlier run"};
    unsigned long a = counts_now().a, l = counts_now().l;
    const auto line = [&](const char *what, unsigned long n, const void *q) {
        expected.push_back(pid + ":" + pid + ":memory:" + what + ":" + std::to_string(n) + ":" +
                           address_of(q) + ":" + std::to_string(header_of(q)->size));
    };
    const auto freed = [&](const void *q) { q ? line("liberate", ++l, q) : void(); };
    std::function<void(const xml_element *)> walk = [&](const xml_element *e) {
        for (const xml_element *c = e->first; c; c = c->next)
            walk(c);
        for (const xml_atribut *t = e->firstatb; t; t = t->next)
            freed(t->name), freed(t->value), freed(t);
        freed(e->name), freed(e->value), freed(e);
    };
    set_memory_trace(1);
    void *secure = allocate_secure(40);
    line("allocate", ++a, secure), line("liberate", ++l, secure), walk(root);
    liberate(secure), liberate(nullptr); // null writes no line
    EXPECT_EQ(liberate_element(root), nullptr);
    set_memory_trace(0);
    std::istringstream log(read_file("qv-mem-log"));
    std::vector<std::string> lines;
    for (std::string text; std::getline(log, text);
         lines.push_back(lines.empty() ? text : text.substr(text.find(':') + 1)))
        EXPECT_TRUE(lines.empty() || std::abs(std::stoll(text) - std::time(nullptr)) <= 2) << text;
    EXPECT_EQ(lines, expected);
}

// Run by the ThreadSanitizer preset: the counters balance after concurrent use and each
// block is zero and its thread's alone.
TEST_F(Allocator, ThreadsCountersBalanceAfterConcurrentUse)
{
    const alloc_counts before = counts_now();
    std::vector<std::thread> threads;
    for (int t = 1; t <= 4; ++t)
        threads.emplace_back([t] {
            std::vector<unsigned char *> held(16, nullptr);
            for (int i = 0; i < 2000; ++i) {
                const int n = 1 + (i * 7 + t) % 200;
                liberate(held[i % 16]);
                auto *p = held[i % 16] =
                    static_cast<unsigned char *>(i % 50 ? allocate(n) : allocate_secure(n));
                if (std::count(p, p + n, 0) != n) ADD_FAILURE() << "block not zero-filled";
                std::memset(p, t, std::size_t(n));
            }
            std::for_each(held.begin(), held.end(), liberate);
        });
    for (std::thread &th : threads)
        th.join();
    const alloc_counts after = counts_now();
    EXPECT_EQ(std::tuple(after.a - before.a, after.l - before.l), std::tuple(8000ul, 8000ul));
}

// ---------------------------------------------------------------------------
// Conversions, attribute values, joins and queries, from data

// Rows by kind, then:
// entity: mode, extent (xml or html), text, converted text. Mode 1 shrinks the text in
//   its own block; mode 2 writes a new ordinary block of the exact size and releases
//   the old one, or obtains nothing when nothing converts (data/entities.tsv).
// substitute: buffer size, replace, with, result value, buffer text, input. The result
//   is below the size when the whole text fits, else a size to grow to.
// number, string: a stored attribute value read as a number, or as copies, ordinary
//   and secure, without quotation marks; unquote: "&quot;" turned into quotation marks,
//   in a new secure block when there is one.
// join, joins, join-sep: separator, r, s, result, whether the caller still owns s,
//   whether the result is r itself. Each join gets tracked copies of its arguments: a
//   join that releases too little leaks, one that releases too much releases twice.
// extend: value, text, length, status, value after. A call that adds text stores a new
//   block of exactly the new size; the others leave the value as it was.
// element, nested, atribut: document, name, the text or the attribute value found.
TEST_F(Library, DataCases)
{
    owned_tree e{document_add_element(nullptr, "e")};
    for (const char *file : {"entities.tsv", "substitutions.tsv", "atribut-values.txt",
                             "allocations.tsv", "queries.tsv"})
        for (const auto &c : rows(file, 7)) {
            SCOPED_TRACE(c[0] + " " + c[1].substr(0, 40) + " " + c[2].substr(0, 30) + " " +
                         c[3].substr(0, 30));
            const std::string &kind = c[0];
            const xml_atribut *a = document_add_atribut(e.get(), "k", c[1].c_str());
            if (kind == "entity") {
                if (c[2] == "xml") use_xml_macros();
                char *block = allocate_string(c[3].c_str()), *const old = block;
                convert_html_accents(&block, std::stoi(c[1]));
                use_html_macros(); // where the setting rests between conversions
                const bool fresh = c[1] == "2" && c[3] != c[4];
                EXPECT_EQ(std::tuple(std::string(block), block != old, header_of(block)->size,
                                     header_of(block)->secure),
                          std::tuple(c[4], fresh, (fresh ? c[4] : c[3]).size() + 1, 0));
                liberate(block);
            } else if (kind == "substitute") {
                std::vector<char> buf(std::stoul(c[1]));
                EXPECT_EQ(translate_string_with_string(c[6].c_str(), buf.data(), std::stoi(c[1]),
                                                       given(c[2]), given(c[3])),
                          std::stoul(c[4]));
                EXPECT_TRUE(!given(c[5]) || c[5] == buf.data());
            } else if (kind == "number") {
                EXPECT_EQ(document_atribut_value(a), std::stoi(c[2]));
            } else if (kind == "string") {
                owned_text plain{document_atribut_string(a)}, secret{document_atribut_password(a)};
                EXPECT_EQ(std::tuple(std::string(plain.get()), std::string(secret.get()),
                                     header_of(secret.get())->secure,
                                     header_of(plain.get())->secure, plain.get() != a->value),
                          std::tuple(c[2], c[2], 1, 0, true));
            } else if (kind == "unquote") {
                owned_text got{
                    unserialize_xml_string_attribute_value(allocate_string(c[1].c_str()))};
                EXPECT_EQ(std::tuple(shown(got.get()), header_of(got.get())->secure),
                          std::tuple(c[2], int(c[1] != c[2])));
            } else if (kind.starts_with("join")) {
                char *r = allocate_string(given(c[2])), *s = allocate_string(given(c[3]));
                const unsigned long before = counts_now().a;
                owned_text got{kind == "join"    ? join_string(r, s)
                               : kind == "joins" ? join_strings(r, s)
                                                 : join_string_sep(r, s, given(c[1]))};
                EXPECT_EQ(std::tuple(shown(got.get()), counts_now().a == before),
                          std::tuple(c[4], c[4] == "(none)" || c[6] == "1"));
                if (c[5] == "1") liberate(s);
            } else if (kind == "extend") {
                char *value = allocate_string(given(c[1])), *const old = value;
                EXPECT_EQ(extend_value(&value, given(c[2]), std::stoi(c[3])), std::stoi(c[4]));
                EXPECT_EQ(std::tuple(shown(value), value != old, exact(value)),
                          std::tuple(c[5], c[4] == "0" && c[3] != "0", true));
                liberate(value);
            } else {
                owned_tree root = load(c[1]);
                const xml_element *found =
                    (kind == "nested" ? nested_document_element : document_element)(root.get(),
                                                                                    c[2].c_str());
                const xml_atribut *t = document_atribut(root.get(), c[2].c_str());
                EXPECT_EQ(shown(kind == "atribut" ? t ? t->value : nullptr
                                : found           ? found->value
                                                  : nullptr),
                          c[3]);
            }
        }
}

// ---------------------------------------------------------------------------
// Loading, editing and writing the tree

// data/load/<name>.xml against <name>.tree: the compact print of the root, then its
// indented print at level 1, or "(nothing loaded)". The root is the last top-level
// element that closed; earlier ones, and whatever a failure left half built, are
// released, as the fixture's balance check shows.
TEST_F(Library, DataLoads)
{
    for (const auto &input : data_files("load", ".xml")) {
        owned_tree root{document_parse_file(input.c_str())};
        std::string dump = "(nothing loaded)\n";
        if (root) {
            dump = compact(root.get()) + indented(root.get(), 1);
            EXPECT_EQ(std::tuple(root->previous, root->next, root->parent, exact(root->value)),
                      std::tuple(nullptr, nullptr, nullptr, true));
            child_names(root.get());
            for (const xml_atribut *a = root->firstatb; a; a = a->next) // values in secure blocks
                EXPECT_EQ(header_of(a->value)->secure - header_of(a->name)->secure, 1) << a->name;
        }
        EXPECT_EQ(dump, read_file(std::filesystem::path(input).replace_extension(".tree")))
            << input;
    }
    EXPECT_EQ(document_parse_file("no-such-file.xml"), nullptr);
}

// child_names checks every link after each step.
TEST_F(Library, ListsStayWholeAfterEachEdit)
{
    owned_tree p{document_add_element(nullptr, "p")};
    EXPECT_EQ(header_of(document_prefix_element(p.get(), "b")->name)->secure, 0);
    document_prefix_element(p.get(), "a"), document_add_element(p.get(), "c");
    document_append_element(p->last, document_add_element(nullptr, "z"));
    document_append_element(p->first, document_add_element(nullptr, "m"));
    EXPECT_EQ(child_names(p.get()), "ambcz");
    // a chain of two still pointing at another parent, after the last child; a loose
    // chain in the middle, the elements that followed coming after it
    owned_tree other{document_add_element(nullptr, "o")};
    document_add_element(other.get(), "x"), document_add_element(other.get(), "y");
    EXPECT_EQ(document_append_elements(p->last, std::exchange(other->first, other->last = nullptr)),
              0);
    xml_element *c1 = document_add_element(nullptr, "1"), *c2 = document_add_element(nullptr, "2");
    c1->next = c2, c2->previous = c1, document_append_elements(p->first, c1);
    EXPECT_EQ(child_names(p.get()), "a12mbczxy");
    EXPECT_EQ(document_remove_element(p->first), 0);
    document_remove_element(p->first->next), document_remove_element(p->last);
    EXPECT_EQ(child_names(p.get()), "1mbczx");
    while (p->first)
        document_remove_element(p->first);
    document_add_element(document_add_element(p.get(), "a"), "sub"); // its subtree goes with it
    document_remove_element(p->first);
    EXPECT_EQ(child_names(p.get()), "");
    // attributes are stored exactly as given, in ordinary blocks, linked both ways
    xml_atribut *a = document_add_atribut(p.get(), "k", "\"v&quot;\""),
                *b = document_add_atribut(p.get(), "n", "1");
    EXPECT_EQ(std::tuple(std::string(a->value), header_of(a->value)->secure, p->firstatb,
                         p->lastatb, a->next, b->previous, b->next),
              std::tuple("\"v&quot;\"", 0, a, b, b, a, nullptr));
}

// The writers quote values; a file holds the declaration and the chain from the given
// element; the compact print shows one element with its subtree, an attribute without a
// value as '' and an empty text as an open and a close tag.
TEST_F(Library, WritersQuoteValuesAndWriteTheChainFromTheGivenElement)
{
    owned_tree a = load("<a d=\"1\" q=\"say &quot;hi&quot;\"><b/></a>");
    document_add_atribut(a.get(), "odd", "x\"y");
    add_atribut(a.get(), allocate_atribut()), a->lastatb->name = allocate_string("k");
    document_add_element(a->first, "d"),
        document_add_element(a.get(), "c")->value = allocate_string("");
    EXPECT_EQ(compact(a.get()) + compact(a->first) + indented(a->first, 1),
              "<a d='\"1\"' q='\"say \"hi\"\"' odd='x\"y' k=''><b><d/>\n</b>\n<c></c>\n</a>\n"
              "<b><d/>\n</b>\n\t<b>\n\t\t<d/>\n\t</b>\n\t<c>\n\t\n\t</c>\n");
    EXPECT_EQ(indented(a.get()),
              "<a\n\td=\"1\"\n\tq=\"say &quot;hi&quot;\"\n\todd=\"x&quot;y\"\n\tk=\"\">\n"
              "\t<b>\n\t\t<d/>\n\t</b>\n\t<c>\n\t\n\t</c>\n</a>\n");
    const std::string declaration = "<?xml version=\"1.0\" encoding=\"UTF8\"?>\n";
    EXPECT_EQ(document_serialise_file(a->first, "old.xml") +
                  document_serialise_file(a.get(), "no-dir/out.xml"),
              status_cannot_create);
    EXPECT_EQ(read_file("old.xml"), declaration + "<b>\n\t<d/>\n</b>\n<c>\n\n</c>\n");
    ASSERT_EQ(document_serialise_file(nullptr, "old.xml"), 0); // replaced, not appended to
    EXPECT_EQ(read_file("old.xml"), declaration);
}

TEST_F(Library, MillionDeepFileLoadsSearchesAndPrintsWithoutRecursion)
{
#if defined(__SANITIZE_ADDRESS__)
    constexpr std::size_t depth = 250000; // still far beyond what recursion survives
#else
    constexpr std::size_t depth = 1000000;
#endif
    std::string open, close;
    for (std::size_t i = 1; i < depth; ++i)
        open += "<e>", close += "</e>";
    owned_tree root = load(open + "<t>x</t>" + close);
    std::size_t levels = 0;
    for (const xml_element *e = nested_document_element(root.get(), "t"); e && e->parent;
         e = e->parent)
        ++levels;
    const std::string text = compact(root.get()); // "<e>" and "</e>\n" per outer element
    EXPECT_EQ(std::tuple(levels, text.size(), text.substr(3 * (depth - 2), 17)),
              std::tuple(depth - 1, 8 * (depth - 1) + 9, "<e><t>x</t>\n</e>\n"));
}

// ---------------------------------------------------------------------------
// What a parse leaves to its caller

// data/buffer-growth.tsv: text held, bytes asked for, status, capacity after. The buffer
// grows to the smallest multiple of 8192 that holds the text, the request and the
// terminating zero, keeping the text; a refused growth keeps all. A reset then keeps
// the buffer but not its text, stores the payload in the first slot and clears the rest.
TEST_F(Library, CheckBufferDataCasesAndReset)
{
    for (const auto &c : rows("buffer-growth.tsv", 4)) {
        // a context as a parser builds it: zero-filled secure memory, then reset
        auto *x = static_cast<xml_application *>(allocate_secure(sizeof(xml_application)));
        const std::string text(std::stoul(c[0]), 't');
        ASSERT_EQ(xml_reset(x, 0, nullptr) + xml_check_buffer(x, std::stoi(c[0])), 0);
        std::memcpy(x->buffer, text.c_str(), text.size() + 1), x->offset = std::stoi(c[0]);
        char *const first = x->buffer;
        const int status = xml_check_buffer(x, std::stoi(c[1]));
        EXPECT_EQ(std::tuple(status, x->buflen, x->buflen != 8192 || x->buffer == first,
                             std::string(x->buffer)),
                  std::tuple(std::stoi(c[2]), std::stoi(c[3]), true, text))
            << c[0] << " + " << c[1];
        std::fill(std::begin(x->payload), std::end(x->payload), first);
        x->nested = 3, x->parent = reinterpret_cast<xml_parser *>(first);
        const std::tuple kept(x->buffer, x->buflen);
        ASSERT_EQ(xml_reset(x, 1, &x), 0);
        EXPECT_EQ(std::tuple(x->offset, x->nested, x->parent, x->echo, x->buffer[0], x->payload[0],
                             std::count(x->payload, std::end(x->payload), nullptr),
                             std::tuple(x->buffer, x->buflen)),
                  std::tuple(0, 0, nullptr, 1, '\0', static_cast<void *>(&x), xml_payload_slots - 1,
                             kept));
        liberate_xml_application(x);
    }
}

// A relay's status is the result without a failure hook; the root the relays set is
// kept, and a file that cannot be opened leaves it untouched.
TEST_F(Library, ParseResultRootAndCannotOpen)
{
    xml_relay r{};
    r.open_tag = [](xml_application *x, const char *) {
        return x->root = static_cast<xml_element *>(x->payload[0]), 27;
    };
    write_file("in.xml", "<a><b/></a>");
    xml_element mark{};
    EXPECT_EQ(std::tuple(xml_parse("in.xml", &r, &mark), r.result),
              std::tuple(status_no_memory, &mark));
    EXPECT_EQ(std::tuple(xml_parse("missing.xml", &r, nullptr), r.result),
              std::tuple(status_cannot_open, &mark));
}

// Each element's text read by every value reader at its end, with the buffer's capacity
// and whether the element's name begins with the text, then written back by the writers:
// at their margins, a word one less (unsigned), cdata at the XML extent. data/values.xml
// against values.expected.
struct value_lines {
    std::vector<std::string> open;
    std::ostringstream lines;
    char *kept = nullptr;
};

int read_element(xml_application *x)
{
    auto &rec = *static_cast<value_lines *>(x->payload[0]);
    const auto b = [](const char *s) { return s ? "[" + std::string(s) + "]" : "(null)"; };
    int w = -9, x1 = -9, y1 = -9, a = -9, b2 = -9, c = -9;
    xml_get_word(x, &w), xml_get_xy(x, &x1, &y1), xml_get_xyz(x, &a, &b2, &c);
    xml_get_string(x, &rec.kept);     // releases the previous element's copy
    char *f = nullptr, *t = rec.kept; // a copy xml_get_text must not release
    xml_get_filename_string(x, &f), use_xml_macros(), xml_get_text(x, &t);
    const owned_text file{f}, text{t};
    rec.lines << rec.open.back() << ": " << w << " | " << x1 << " " << y1 << " | " << a << " " << b2
              << " " << c << " | " << b(rec.kept) << " " << b(f) << " " << b(t) << " | "
              << MaxMacMan << " | " << b(x->buffer) << " " << x->buflen << " "
              << xml_mnemonic(rec.open.back().c_str(), x->buffer) << "\n"
              << written([&](FILE *h) {
                     xml_put_word(h, "w", w - 1, 1), xml_put_string(h, "s", rec.kept, 2);
                     xml_put_filename_string(h, "f", f, 0), xml_put_filename(h, f), xml_linefeed(h);
                     use_xml_macros(), xml_put_cdata(h, t), indent(h, 2), indent(h, -1);
                 })
              << " " << MaxMacMan << "\n";
    rec.open.pop_back();
    return x->buffer[x->offset = 0] = '\0', 0;
}

TEST_F(Library, ValueReadersAndWritersDuringAParse)
{
    value_lines rec;
    xml_relay relays{};
    relays.open_tag = [](xml_application *x, const char *name) { // each element's text on its own
        return static_cast<value_lines *>(x->payload[0])->open.emplace_back(name),
               x->buffer[x->offset = 0] = '\0', 0;
    };
    relays.close_tag = read_element;
    const std::string data = std::string(QVXML_TEST_DATA) + "/values";
    EXPECT_EQ(xml_parse((data + ".xml").c_str(), &relays, &rec), status_ok);
    liberate(rec.kept);
    EXPECT_EQ(rec.lines.str(), read_file(data + ".expected"));
}

// The block scanners against a plain reading of what they promise, on random blocks
// at every alignment and length up to a few vectors.
TEST(ContentScan, WideAndPortableScannersAgreeWithAPlainReading)
{
    std::mt19937 rng(7);
    const unsigned char alphabet[] = {'<', '\r', '\n', '\0', 'a', ' ', 0xff, '>'};
    std::vector<unsigned char> block(80);
    for (int i = 0; i < 20000; ++i) {
        const unsigned rare = 5 + rng() % 61; // sparse stops and feeds
        for (auto &c : block)
            c = alphabet[rng() % rare < 4 ? rng() % 4 : 4 + rng() % 4];
        const std::size_t from = rng() % 17, to = from + rng() % (block.size() - from + 1);
        const unsigned char *begin = block.data() + from, *end = block.data() + to;
        const unsigned char *stop =
            std::find_if(begin, end, [](unsigned char c) { return c == '<' || c == '\r' || !c; });
        const auto last =
            std::find(std::reverse_iterator(stop), std::reverse_iterator(begin), '\n');
        for (auto scan : {xml_scan_content_portable, xml_scan_content_wide}) {
            const xml_content_scan s = scan(begin, end);
            ASSERT_EQ(std::tuple(s.stop, s.lines, s.line_end),
                      std::tuple(stop - begin, std::count(begin, stop, '\n'), last.base() - begin))
                << i;
        }
    }
}

} // namespace
