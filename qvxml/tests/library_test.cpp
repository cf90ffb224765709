// The tracked allocator, the document tree, entity conversion, and what a parse leaves
// to its caller (the application context, the value readers and writers). Most cases
// are data under data/: tables of tab-separated fields, the first row naming the
// columns. The reader's events, statuses, line counts, collected text and echo
// are checked against the reference reader, and the quote substitution, the entity
// round trip and the writers' round trip are properties (properties.cpp).

#include <cctype>
#include <cstring>
#include <map>
#include <random>
#include <regex>
#include <sstream>
#include <thread>

#include "qvxml/internal/content_scan.h"
#include "test_support.h"

namespace
{

// A field as an argument, a text as a field; whether a text's block is exactly its size;
// the compact print of an element; the tree loaded from xml.
const auto given = [](const std::string &f) { return f == "(none)" ? nullptr : f.c_str(); };
const auto shown = [](const char *s) { return std::string(s ? s : "(none)"); };
const auto exact = [](const char *s) { return !s || header_of(s)->size == std::strlen(s) + 1; };
const auto compact = [](const xml_element *e) { return captured_stdout([&] { show_element(e); }); };
const auto load = [](const std::string &xml) {
    write_file("in.xml", xml);
    return owned_tree{document_parse_file("in.xml")};
};
// The indented text of the chain from e; both writers must produce the same bytes.
const auto indented = [](const xml_element *e, int level) {
    std::string text = captured_stdout([&] { document_show_element(e, level); });
    EXPECT_EQ(text, written([&](FILE *h) { document_serialise_element(h, e, level); }));
    return text;
};

using Library = InTempDir;
using Allocator = InTempDir;

// ---------------------------------------------------------------------------
// The allocator

// The report on standard output shows ordinary allocations only. The trace log
// "qv-mem-log" is appended to, a line "time:pid:pid:memory:allocate|liberate:count:
// address:size" per traced allocation and release of either kind. liberate_element
// releases each block once: the children (each whole subtree in document order), then
// the attributes (name, value, record), then the element's own name, value and record.
TEST_F(Allocator, ReportAndTraceLogInReleaseOrder)
{
    void *p = nullptr;
    const std::string report = captured_stdout([&] {
        allocation_trace(1);
        liberate(allocate_secure(24));
        p = allocate(24);
        liberate(p);
        allocation_trace(0);
    });
    EXPECT_EQ(report,
              std::to_string(allocation_balance().a) + " allocate 24 " + address_of(p) + "\n");
    write_file("qv-mem-log", "earlier run\n");
    xml_element *root = load("<r rk='1'>r<c c1='1'>c1<g/></c><d c2='2'>d<h/></d></r>").release();
    std::string pid = std::to_string(getpid()), expected = "earlier run\n"; // nothing logged yet
    unsigned long a = allocation_balance().a, l = allocation_balance().l;
    const auto line = [&](const char *what, unsigned long n, const void *q) {
        expected += pid + ":" + pid + ":memory:" + what + ":" + std::to_string(n) + ":" +
                    address_of(q) + ":" + std::to_string(header_of(q)->size) + "\n";
    };
    const auto freed = [&](std::initializer_list<const void *> blocks) {
        for (const void *q : blocks)
            if (q) line("liberate", ++l, q);
    };
    std::function<void(const xml_element *)> walk = [&](const xml_element *e) {
        for (const xml_element *c = e->first; c; c = c->next)
            walk(c);
        for (const xml_atribut *t = e->firstatb; t; t = t->next)
            freed({t->name, t->value, t});
        freed({e->name, e->value, e});
    };
    EXPECT_EQ(set_memory_trace(set_memory_trace(7) + 1), 7); // each gives the previous setting
    p = allocate_secure(40);
    line("allocate", ++a, p);
    freed({p});
    walk(root);
    liberate(p);
    liberate(nullptr);
    liberate_element(root);
    set_memory_trace(0);
    const std::regex time("^[0-9]+:", std::regex::multiline); // null wrote no line
    EXPECT_EQ(std::regex_replace(read_file("qv-mem-log"), time, ""), expected);
}

// From reset counters, blocks of both kinds come zero-filled, aligned and marked, counted
// in requested bytes; a negative size gives null. Run by the ThreadSanitizer preset: the
// counters balance after concurrent use and each block, secure ones of every size class
// and past a page among them, is its thread's alone until released.
TEST_F(Allocator, BlocksAndCountersUnderConcurrentUse)
{
    reset_allocate_statistics();
    const owned_text one{static_cast<char *>(allocate_secure(100))};
    EXPECT_EQ(std::tuple(allocate(-1), allocate_secure(-8), allocation_balance().a,
                         allocation_balance().t),
              std::tuple(nullptr, nullptr, 1ul, 100ull));
    for (std::vector<std::jthread> threads; threads.size() < 4;) // joined as the loop ends
        threads.emplace_back([t = int(threads.size()) + 1] {
            std::vector<unsigned char *> held(16, nullptr);
            for (int i = 0; i < 2000; ++i) {
                const int n = i * 37 % 5000, secure = i % 3 == 0;
                if (const unsigned char *q = held[i % 16];
                    q && std::count(q, q + header_of(q)->size, t) != int(header_of(q)->size))
                    ADD_FAILURE() << "a block changed while its thread held it";
                liberate(held[i % 16]);
                auto *p = held[i % 16] =
                    static_cast<unsigned char *>(secure ? allocate_secure(n) : allocate(n));
                if (std::count(p, p + n, 0) != n || header_of(p)->secure != secure ||
                    std::uintptr_t(p) % alignof(std::max_align_t))
                    ADD_FAILURE() << "block not zero-filled, marked and aligned";
                std::memset(p, t, std::size_t(n));
            }
            std::for_each(held.begin(), held.end(), liberate);
        });
    EXPECT_EQ(std::tuple(allocation_balance().a, allocation_balance().l, allocation_balance().t),
              std::tuple(8001ul, 8000ul, 100ull));
}

// Kilobytes of memory locked by this process.
const auto locked_kib = [] {
    const std::string status = read_file("/proc/self/status");
    return std::stol(status.substr(status.find("VmLck:") + 6));
};

// Many secure blocks, of every size class and past a page, live at once: none overlaps
// another, those released among them come back zero-filled when allocated again, and
// no page stays locked once all are gone.
TEST_F(Allocator, ManySecureBlocksLiveAtOnce)
{
    const long before = locked_kib();
    std::vector<owned_text> blocks(1500);
    const auto size = [](std::size_t i) { return int(i * 7 % 5000); };
    const auto mark = [](std::size_t i) { return char(i % 251 + 1); };
    const auto fill = [&](std::size_t i) {
        char *p = static_cast<char *>(allocate_secure(size(i)));
        blocks[i].reset(p);
        EXPECT_EQ(std::count(p, p + size(i), 0), size(i)) << i;
        std::memset(p, mark(i), std::size_t(size(i)));
    };
    for (std::size_t i = 0; i < blocks.size(); ++i)
        fill(i);
    for (std::size_t i = 0; i < blocks.size(); i += 2)
        blocks[i].reset();
    for (std::size_t i = 0; i < blocks.size(); i += 2)
        fill(i);
    for (std::size_t i = 0; i < blocks.size(); ++i)
        EXPECT_EQ(std::count(blocks[i].get(), blocks[i].get() + size(i), mark(i)), size(i)) << i;
    blocks.clear();
    EXPECT_EQ(locked_kib(), before);
}

// Two secure blocks share a page: the second stays locked when the first is released
// (unlocking the first block's pages once unlocked the second with them). An emptied
// page stays locked while a block lives elsewhere, and nothing once every block is gone.
TEST_F(Allocator, SecureBlocksStayLockedWhileAnotherOnTheirPageLives)
{
    const long before = locked_kib(), page_kib = sysconf(_SC_PAGESIZE) / 1024;
    const auto locked_pages = [&] { return (locked_kib() - before) / page_kib; };
    owned_text first{static_cast<char *>(allocate_secure(100))};
    owned_text second{static_cast<char *>(allocate_secure(100))};
    owned_text elsewhere{static_cast<char *>(allocate_secure(20))};
    const auto page = std::uintptr_t(sysconf(_SC_PAGESIZE));
    ASSERT_EQ(std::uintptr_t(first.get()) / page, std::uintptr_t(second.get()) / page);
    if (locked_pages() == 0)
        GTEST_SKIP()
            << "nothing locked: mlock refused (a small RLIMIT_MEMLOCK) or ignored (a sanitizer)";
    first.reset();
    const long one_gone = locked_pages();
    second.reset();
    const long two_gone = locked_pages();
    elsewhere.reset();
    EXPECT_EQ(std::tuple(one_gone, two_gone, locked_pages()), std::tuple(2, 2, 0));
}

// ---------------------------------------------------------------------------
// Conversions, attribute values, joins and queries: one table each in data/, its first
// row naming its columns, "(none)" standing for an absent text

// data/entities.tsv. Mode 1 shrinks the text in its own block; mode 2 writes a new
// ordinary block of the exact size and releases the old one, or obtains nothing when
// nothing converts. The HTML extent is in force again after each conversion.
TEST_F(Library, EntitiesConvertInTheirBlockOrIntoAnExactOne)
{
    for (const row &c : table("entities.tsv")) {
        SCOPED_TRACE(c.line);
        if (c["extent"] == "xml") use_xml_macros();
        char *block = allocate_string(c["text"].c_str()), *const old = block;
        convert_html_accents(&block, std::stoi(c["mode"]));
        use_html_macros();
        const bool fresh = c["mode"] == "2" && c["text"] != c["converted"];
        const std::size_t size = (fresh ? c["converted"] : c["text"]).size() + 1;
        EXPECT_EQ(std::tuple(std::string(block), block != old, header_of(block)->size,
                             header_of(block)->secure),
                  std::tuple(c["converted"], fresh, size, 0));
        liberate(block);
    }
}

// data/atribut-values.tsv: a stored attribute value read as a number, or as copies,
// ordinary and secure, without quotation marks.
TEST_F(Library, AtributValuesReadAsNumbersAndCopies)
{
    owned_tree e{document_add_element(nullptr, "e")};
    for (const row &c : table("atribut-values.tsv")) {
        SCOPED_TRACE(c.line);
        const xml_atribut *a = document_add_atribut(e.get(), "k", c["value"].c_str());
        if (c["read"] == "number") {
            EXPECT_EQ(document_atribut_value(a), std::stoi(c["result"]));
            continue;
        }
        owned_text plain{document_atribut_string(a)}, secret{document_atribut_password(a)};
        EXPECT_EQ(std::tuple(plain.get(), secret.get(), header_of(secret.get())->secure,
                             header_of(plain.get())->secure, plain.get() != a->value),
                  std::tuple(c["result"], c["result"], 1, 0, true));
    }
}

// data/joins.tsv: whether the caller still owns s after the call, and whether the result
// is r itself (no new block). Each join gets tracked copies of its arguments: a join
// that releases too little leaks, one that releases too much releases twice.
TEST_F(Library, JoinsTakeWhatTheyRelease)
{
    for (const row &c : table("joins.tsv")) {
        SCOPED_TRACE(c.line);
        char *r = allocate_string(given(c["r"])), *s = allocate_string(given(c["s"]));
        const unsigned long before = allocation_balance().a;
        owned_text got{c["call"] == "join"    ? join_string(r, s)
                       : c["call"] == "joins" ? join_strings(r, s)
                                              : join_string_sep(r, s, given(c["separator"]))};
        EXPECT_EQ(std::tuple(shown(got.get()), allocation_balance().a == before),
                  std::tuple(c["result"], c["result"] == "(none)" || c["result_is_r"] == "1"));
        if (c["caller_owns_s"] == "1") liberate(s);
    }
}

// data/extend.tsv: a call that adds text stores a new block of exactly the new size;
// the others leave the value as it was.
TEST_F(Library, ExtendStoresAnExactBlockOrLeavesTheValue)
{
    for (const row &c : table("extend.tsv")) {
        SCOPED_TRACE(c.line);
        char *value = allocate_string(given(c["value"])), *const old = value;
        EXPECT_EQ(extend_value(&value, given(c["text"]), std::stoi(c["length"])),
                  std::stoi(c["status"]));
        EXPECT_EQ(std::tuple(shown(value), value != old, exact(value)),
                  std::tuple(c["after"], c["status"] == "0" && c["length"] != "0", true));
        liberate(value);
    }
}

// data/queries.tsv: the text of the element, or the value of the attribute, that a
// query of the loaded document finds by name.
TEST_F(Library, QueriesFindByName)
{
    for (const row &c : table("queries.tsv")) {
        SCOPED_TRACE(c.line);
        owned_tree root = load(c["document"]);
        const auto query = c["query"] == "nested" ? nested_document_element : document_element;
        const xml_element *e = query(root.get(), c["name"].c_str());
        const xml_atribut *t = document_atribut(root.get(), c["name"].c_str());
        const char *found =
            c["query"] == "atribut" ? (t ? t->value : nullptr) : (e ? e->value : nullptr);
        EXPECT_EQ(shown(found), c["found"]);
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
    for (const auto &in : data_files("load", ".xml")) {
        owned_tree root{document_parse_file(in.c_str())};
        std::string dump = "(nothing loaded)\n";
        if (root) {
            dump = compact(root.get()) + indented(root.get(), 1);
            EXPECT_EQ(std::tuple(root->previous, root->next, root->parent, exact(root->value)),
                      std::tuple(nullptr, nullptr, nullptr, true));
            child_names(root.get());
            for (const xml_atribut *a = root->firstatb; a; a = a->next) // values in secure blocks
                EXPECT_EQ(header_of(a->value)->secure - header_of(a->name)->secure, 1) << a->name;
        }
        EXPECT_EQ(dump, read_file(std::filesystem::path(in).replace_extension(".tree"))) << in;
        // echo sends the content through the single-event relays: the same tree
        xml_element *echoed = nullptr;
        set_xml_echo(1);
        (void)captured_stdout([&] { echoed = document_parse_file(in.c_str()); });
        set_xml_echo(0);
        owned_tree again{echoed};
        EXPECT_EQ(echoed ? compact(echoed) + indented(echoed, 1) : "(nothing loaded)\n", dump)
            << in;
    }
}

// child_names checks every link after each step.
TEST_F(Library, ListsStayWholeAfterEachEdit)
{
    owned_tree p{document_add_element(nullptr, "p")};
    EXPECT_EQ(header_of(document_prefix_element(p.get(), "b")->name)->secure, 0);
    document_prefix_element(p.get(), "a");
    document_add_element(p.get(), "c");
    document_append_element(p->last, document_add_element(nullptr, "z"));
    document_append_element(p->first, document_add_element(nullptr, "m"));
    EXPECT_EQ(child_names(p.get()), "ambcz");
    // a chain of two still pointing at another parent, after the last child; a loose
    // chain in the middle, the elements that followed coming after it
    owned_tree o{document_add_element(nullptr, "o")};
    document_add_element(o.get(), "x");
    document_add_element(o.get(), "y");
    EXPECT_EQ(document_append_elements(p->last, std::exchange(o->first, o->last = nullptr)), 0);
    xml_element *c1 = document_add_element(nullptr, "1"), *c2 = document_add_element(nullptr, "2");
    c1->next = c2;
    c2->previous = c1;
    document_append_elements(p->first, c1);
    EXPECT_EQ(child_names(p.get()), "a12mbczxy");
    EXPECT_EQ(document_remove_element(p->first), 0);
    document_remove_element(p->first->next);
    document_remove_element(p->last);
    EXPECT_EQ(child_names(p.get()), "1mbczx");
    document_add_element(p->first, "sub"); // its subtree goes with it
    while (p->first)
        document_remove_element(p->first);
    EXPECT_EQ(child_names(p.get()), "");
    // attributes are stored exactly as given, in ordinary blocks, linked both ways
    xml_atribut *a = document_add_atribut(p.get(), "k", "\"v&quot;\""),
                *b = document_add_atribut(p.get(), "n", "1");
    EXPECT_EQ(std::tuple(std::string(a->value), header_of(a->value)->secure, p->firstatb,
                         p->lastatb, a->next, b->previous, b->next),
              std::tuple("\"v&quot;\"", 0, a, b, b, a, nullptr));
}

// A file holds the declaration and the chain from the given element; the compact print
// shows one element with its subtree, an attribute without a value as '' and an empty
// text as an open and a close tag.
TEST_F(Library, WritersWriteTheChainFromTheGivenElement)
{
    owned_tree a = load("<a d=\"1\" q=\"say &quot;hi&quot;\"><b/></a>");
    document_add_atribut(a.get(), "odd", "x\"y");
    add_atribut(a.get(), allocate_atribut());
    a->lastatb->name = allocate_string("k");
    const xml_atribut *k = a->lastatb; // without a value: no text, and the number 0
    EXPECT_TRUE(!document_atribut_string(k) && !document_atribut_password(k) &&
                !document_atribut_value(k));
    document_add_element(a->first, "d");
    document_add_element(a.get(), "c")->value = allocate_string("");
    EXPECT_EQ(compact(a.get()) + compact(a->first) + indented(a->first, 1),
              "<a d='\"1\"' q='\"say \"hi\"\"' odd='x\"y' k=''><b><d/>\n</b>\n<c></c>\n</a>\n"
              "<b><d/>\n</b>\n\t<b>\n\t\t<d/>\n\t</b>\n\t<c>\n\t\n\t</c>\n");
    const std::string declaration = "<?xml version=\"1.0\" encoding=\"UTF8\"?>\n";
    EXPECT_EQ(document_serialise_file(a->first, "old.xml"), 0);
    EXPECT_EQ(document_serialise_file(a.get(), "-/x.xml"), status_cannot_create);
    EXPECT_EQ(document_serialise_file(a.get(), "/dev/full"), status_cannot_create); // was 0
    EXPECT_EQ(read_file("old.xml"), declaration + "<b>\n\t<d/>\n</b>\n<c>\n\n</c>\n");
    // replaced, not appended to
    document_serialise_file(nullptr, "old.xml");
    EXPECT_EQ(read_file("old.xml"), declaration);
}

TEST_F(Library, MillionDeepFileLoadsSearchesAndPrintsWithoutRecursion)
{
    constexpr std::size_t depth = 1000000;
    std::string open, close;
    for (std::size_t i = 1; i < depth; ++i) {
        open += "<e>";
        close += "</e>";
    }
    owned_tree root = load(open + "<t>x</t>" + close);
    const xml_element *t = nested_document_element(root.get(), "t");
    const std::string text = compact(root.get()); // "<e>" and "</e>\n" per outer element
    EXPECT_EQ(std::tuple(t && t->value == std::string("x"), text.size(),
                         text.substr(3 * (depth - 2), 17)),
              std::tuple(true, 8 * (depth - 1) + 9, "<e><t>x</t>\n</e>\n"));
}

// ---------------------------------------------------------------------------
// What a parse leaves to its caller

// data/buffer-growth.tsv: the buffer grows to the smallest multiple of 8192 that holds
// the text, the request and the terminating zero, keeping the text; a refused growth
// keeps all. A reset then keeps the buffer but not its text, stores the payload in the
// first slot and clears the rest.
TEST_F(Library, CheckBufferDataCasesAndReset)
{
    for (const row &c : table("buffer-growth.tsv")) {
        SCOPED_TRACE(c.line);
        // a context as a parser builds it: zero-filled secure memory, then reset
        auto *x = static_cast<xml_application *>(allocate_secure(sizeof(xml_application)));
        const std::string text(std::stoul(c["held"]), 't');
        ASSERT_EQ(xml_reset(x, 0, nullptr), 0);
        ASSERT_EQ(xml_check_buffer(x, int(text.size())), 0);
        std::memcpy(x->buffer, text.c_str(), text.size() + 1);
        x->offset = int(text.size());
        const int status = xml_check_buffer(x, std::stoi(c["asked"]));
        EXPECT_EQ(std::tuple(status, x->buflen, std::string(x->buffer)),
                  std::tuple(std::stoi(c["status"]), std::stoi(c["capacity"]), text));
        char *const buffer = x->buffer;
        std::fill(std::begin(x->payload), std::end(x->payload), x);
        x->nested = 3;
        x->parent = reinterpret_cast<xml_parser *>(x);
        ASSERT_EQ(xml_reset(x, 1, &x), 0);
        EXPECT_EQ(std::tuple(x->buffer, x->buflen, x->offset, x->nested, x->parent, x->echo,
                             x->buffer[0], x->payload[0],
                             std::count(std::begin(x->payload) + 1, std::end(x->payload), nullptr)),
                  std::tuple(buffer, std::stoi(c["capacity"]), 0, 0, nullptr, 1, '\0',
                             static_cast<void *>(&x), xml_payload_slots - 1L));
        liberate_xml_application(x);
    }
}

// Each element's text read by every value reader at its end, with the buffer's capacity
// and whether the element's name begins with the text, then written back by the writers:
// at their margins, a word one less (unsigned), cdata at the XML extent. data/values.xml
// against values.expected. The root the relays set is kept, and a file that cannot be
// opened leaves it untouched.
struct value_lines {
    std::vector<std::string> open;
    std::ostringstream lines;
    char *kept = nullptr;
};

// Empties the text collected so far, so that each element's text is read on its own.
void forget_text(xml_application *x)
{
    x->offset = 0;
    x->buffer[0] = '\0';
}

int read_element(xml_application *x)
{
    auto &rec = *static_cast<value_lines *>(x->payload[0]);
    const auto b = [](const char *s) { return s ? std::string("[") + s + "]" : "(null)"; };
    int w = -9, x1 = -9, y1 = -9, a = -9, b2 = -9, c = -9;
    xml_get_word(x, &w);
    xml_get_xy(x, &x1, &y1);
    xml_get_xyz(x, &a, &b2, &c);
    xml_get_string(x, &rec.kept);     // releases the previous element's copy
    char *f = nullptr, *t = rec.kept; // a copy xml_get_text must not release
    xml_get_filename_string(x, &f);
    use_xml_macros();
    xml_get_text(x, &t);
    const owned_text file{f}, text{t};
    rec.lines << rec.open.back() << ": " << w << " | " << x1 << " " << y1 << " | " << a << " " << b2
              << " " << c << " | " << b(rec.kept) << " " << b(f) << " " << b(t) << " | "
              << MaxMacMan << " | " << b(x->buffer) << " " << x->buflen << " "
              << xml_mnemonic(rec.open.back().c_str(), x->buffer) << "\n"
              << written([&](FILE *h) {
                     xml_put_word(h, "w", w - 1, 1);
                     xml_put_string(h, "s", rec.kept, 2);
                     xml_put_filename_string(h, "f", f, 0);
                     xml_put_filename(h, f);
                     xml_linefeed(h);
                     use_xml_macros();
                     xml_put_cdata(h, t);
                     indent(h, 2);
                     indent(h, -1);
                 })
              << " " << MaxMacMan << "\n";
    rec.open.pop_back();
    x->root = reinterpret_cast<xml_element *>(&rec);
    forget_text(x);
    return rec.open.empty() ? status_no_memory : 0;
}

TEST_F(Library, ValueReadersAndWritersDuringAParse)
{
    value_lines rec;
    xml_relay relays{};
    relays.open_tag = [](xml_application *x, const char *name) {
        static_cast<value_lines *>(x->payload[0])->open.emplace_back(name);
        forget_text(x);
        return 0;
    };
    relays.close_tag = read_element;
    EXPECT_EQ(xml_parse(QVXML_TEST_DATA "/values.xml", &relays, &rec), status_no_memory);
    liberate(rec.kept);
    EXPECT_EQ(rec.lines.str(), read_file(QVXML_TEST_DATA "/values.expected"));
    EXPECT_EQ(xml_parse("none.xml", &relays, nullptr), status_cannot_open);
    EXPECT_EQ(relays.result, reinterpret_cast<xml_element *>(&rec));
}

// The block scanners against a plain reading of what they promise, on random blocks
// at every alignment and length up to a few vectors.
TEST(ContentScan, WideAndPortableScannersAgreeWithAPlainReading)
{
    std::mt19937 rng(7);
    const unsigned char alphabet[] = {'<', '\r', '\n', '\0', 'a', ' ', 0xff, '\t'};
    std::vector<unsigned char> block(80);
    for (int i = 0; i < 20000; ++i) {
        const unsigned rare = 5 + rng() % 61; // sparse stops and feeds
        for (auto &c : block)
            c = alphabet[rng() % rare < 4 ? rng() % 4 : 4 + rng() % 4];
        const unsigned char *begin = block.data() + rng() % 17;
        const unsigned char *end = begin + rng() % (block.data() + block.size() - begin + 1);
        const auto *stop =
            std::find_if(begin, end, [](auto c) { return c == '<' || c == '\r' || !c; });
        const auto lf = std::find(std::reverse_iterator(stop), std::reverse_iterator(begin), '\n');
        const auto *word =
            std::find_if(begin, stop, [](auto c) { return c != ' ' && c != '\t' && c != '\n'; });
        for (auto scan :
             {xml_scan_content_portable, xml_scan_content_wide, xml_scan_content_long_wide}) {
            const xml_content_scan s = scan(begin, end);
            ASSERT_EQ(std::tuple(s.stop, s.lines, s.line_end, s.space),
                      std::tuple(stop - begin, std::count(begin, stop, '\n'), lf.base() - begin,
                                 word - begin));
        }
        // the short run: sixteen bytes there, a word first, a '<' among them and no
        // byte at or below '\r' before it
        const bool whole = end - begin >= 16 && word == begin && stop < begin + 16 &&
                           *stop == '<' &&
                           std::none_of(begin, stop, [](auto c) { return c <= '\r'; });
        for (auto scan : {xml_scan_short_run_portable, xml_scan_short_run_wide})
            ASSERT_EQ(scan(begin, end), whole ? std::size_t(stop - begin) : xml_no_short_run);
        // comments and sections, on the same block with every stop of either in it
        for (auto &c : block)
            c = "<\r\n\0>&]a-\xff"[rng() % rare < 4 ? rng() % 7 : 7 + rng() % 3];
        for (const auto kind : {xml_markup_text::comment, xml_markup_text::section}) {
            const std::string_view stops(kind == xml_markup_text::section ? ">\r\0<&]" : ">\r\0",
                                         kind == xml_markup_text::section ? 6 : 3);
            const auto *at =
                std::find_if(begin, end, [&](auto c) { return stops.find(c) != stops.npos; });
            const auto last =
                std::find(std::reverse_iterator(at), std::reverse_iterator(begin), '\n');
            for (auto scan : {xml_scan_markup_portable, xml_scan_markup_wide}) {
                const xml_markup_scan s = scan(begin, end, kind);
                ASSERT_EQ(std::tuple(s.stop, s.lines, s.line_end),
                          std::tuple(at - begin, std::count(begin, at, '\n'), last.base() - begin));
            }
            if (kind != xml_markup_text::section || end - begin < 16) continue;
            const unsigned char *const sixteen = end - 16; // their marks, one bit each
            unsigned stop_bits = 0, feed_bits = 0;
            for (unsigned j = 0; j < 16; ++j) {
                stop_bits |= unsigned{stops.find(static_cast<char>(sixteen[j])) != stops.npos} << j;
                feed_bits |= unsigned{sixteen[j] == '\n'} << j;
            }
            for (auto mark : {xml_mark_section_portable, xml_mark_section_wide})
                ASSERT_EQ(std::pair(mark(sixteen).stops, mark(sixteen).feeds),
                          std::pair(stop_bits, feed_bits));
        }
    }
}

// The name scanners stop at the first byte that is not a name character, whatever
// its value, at every alignment; an end tag is told from the name just read at every
// length; the indentation scanner takes a line feed and up to fifteen spaces before a
// '<', and nothing else.
TEST(ContentScan, NameAndIndentationScannersAgreeWithAPlainReading)
{
    std::mt19937 rng(11);
    std::vector<unsigned char> block(80);
    for (int i = 0; i < 20000; ++i) {
        const unsigned stop = rng() % 256, at = rng() % 40;
        for (auto &c : block)
            c = "aZ09-.:_\x80\xa5"[rng() % 10];
        block[at] = static_cast<unsigned char>(stop);
        const unsigned char *begin = block.data() + rng() % 17;
        const unsigned char *end = begin + rng() % (block.data() + block.size() - begin + 1);
        const auto *want = std::find_if(begin, end, [](unsigned char c) {
            return !(std::isalnum(c) || (c >= 128 && c <= 165) || std::strchr("-.:_", c)) || !c;
        });
        for (auto scan : {xml_scan_name_portable, xml_scan_name_wide})
            ASSERT_EQ(scan(begin, end), std::size_t(want - begin)) << stop;
    }
    // an end tag against the name just read: every length, a difference anywhere
    const std::string name(40, 'n');
    std::vector<char> token(name.begin(), name.end());
    for (int i = 0; i < 20000; ++i) {
        const std::size_t n = 1 + rng() % 20, at = rng() % 24;
        for (auto &c : block)
            c = "nm>"[rng() % 8 < 6 ? 0 : 1 + rng() % 2];
        const unsigned char *begin = block.data() + at;
        const unsigned char *end = begin + rng() % (block.data() + block.size() - begin + 1);
        const bool want = std::size_t(end - begin) > n &&
                          std::count(begin, begin + n, 'n') == long(n) && begin[n] == '>';
        for (auto same : {xml_name_ends_at_portable, xml_name_ends_at_wide})
            ASSERT_EQ(same(begin, end, token.data(), n), want) << n << ' ' << end - begin;
    }
    for (std::size_t spaces = 0; spaces < 20; ++spaces)
        for (const std::string after : {"<", "a", "\t<"}) {
            const std::string text = '\n' + std::string(spaces, ' ') + after + std::string(20, 'x');
            const auto *begin = reinterpret_cast<const unsigned char *>(text.data());
            const std::size_t want = after == "<" && spaces < 16 ? spaces + 1 : 0;
            EXPECT_EQ(xml_scan_indentation(begin, begin + text.size()), want) << spaces << after;
            EXPECT_EQ(xml_scan_indentation(begin, begin + 16), 0u);
        }
}

// The quoted-value scanners stop at the value's own mark (not the other one), a
// carriage return or a zero byte, with the line feeds before it, at every alignment
// and length up to a few vectors.
TEST(ContentScan, QuotedValueScannersAgreeWithAPlainReading)
{
    std::mt19937 rng(13);
    std::vector<unsigned char> block(80);
    for (int i = 0; i < 20000; ++i) {
        const unsigned rare = 5 + rng() % 61; // sparse stops and feeds
        for (auto &c : block)
            c = "\"'\r\0\na>\xff"[rng() % rare < 5 ? rng() % 5 : 5 + rng() % 3];
        const unsigned char quote = rng() % 2 ? '"' : '\'';
        const unsigned char *begin = block.data() + rng() % 17;
        const unsigned char *end = begin + rng() % (block.data() + block.size() - begin + 1);
        const auto *at =
            std::find_if(begin, end, [&](auto c) { return c == quote || c == '\r' || !c; });
        const auto last = std::find(std::reverse_iterator(at), std::reverse_iterator(begin), '\n');
        for (auto scan : {xml_scan_quoted_portable, xml_scan_quoted_wide}) {
            const xml_markup_scan s = scan(begin, end, quote);
            ASSERT_EQ(std::tuple(s.stop, s.lines, s.line_end),
                      std::tuple(at - begin, std::count(begin, at, '\n'), last.base() - begin));
        }
    }
}

} // namespace
