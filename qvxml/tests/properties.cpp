#include "properties.h"

#include <string.h>

#include <cctype>
#include <cstdint>
#include <set>
#include <vector>

#include "qvxml/element.h"
#include "qvxml/qvxml.hpp"
#include "qvxml/xmlparse.h"

// Every element of the tree in document order: depth, name, text and attributes. With
// written, each text as the writer puts it and the reader takes it back: element text
// followed by the line feed and indentation before the closing tag, attribute values
// inside one pair of quotation marks. fits turns false when such a value, every other
// quotation mark written as "&quot;", or a word of element text (which a CDATA section
// may join from words the reader took apart) is longer than the reader's word limit.
// Without atributes, the attributes are left out.
static std::string dump(const xml_element *root, bool written, bool &fits, bool atributes = true)
{
    std::string s;
    const auto put = [&](const char *t) { s += t ? std::to_string(strlen(t)) + ':' + t : "-"; };
    long depth = 0;
    for (const xml_element *e = root; e;) {
        s += '\n' + std::to_string(depth);
        put(e->name);
        for (std::size_t word = 0, i = 0; e->value && e->value[i]; ++i) {
            const auto c = static_cast<unsigned char>(e->value[i]);
            word = std::isalnum(c) || (c >= 128 && c <= 165) || strchr("-.:_\"'", c) ? word + 1 : 0;
            fits = fits && word <= xml_max_token;
        }
        put(written && e->value ? (e->value + ('\n' + std::string(depth, '\t'))).c_str()
                                : e->value);
        for (const xml_atribut *a = atributes ? e->firstatb : nullptr; a; a = a->next) {
            std::string_view v = a->value ? a->value : "";
            if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
            fits = fits && 2 + v.size() + 5 * std::ranges::count(v, '"') <= xml_max_token;
            put(a->name);
            if (a->value && (reinterpret_cast<const mem_header *>(a->value) - 1)->secure != 1)
                s += "(value not secure)"; // the builder keeps them in secure blocks
            put(written ? ('"' + std::string(v) + '"').c_str() : a->value);
        }
        // on to the next element in document order, staying inside root
        const xml_element *next = e->first;
        if (next) ++depth;
        for (; !next && e != root; e = e->parent) {
            next = e->next;
            if (!next) --depth;
        }
        e = next;
    }
    return s;
}

std::string check_serialise_round_trip(std::string_view input)
{
    const allocation_balance balance;
    std::string d;
    {
        const memory_file file(input), copy("");
        xml_element *const first = document_parse_file(file.path());
        bool fits = true;
        const std::string want = dump(first, true, fits);
        if (first && document_serialise_file(first, copy.path()) != 0) d = "cannot write the tree";
        xml_element *const second = first ? document_parse_file(copy.path()) : nullptr;
        if (!fits && second) d = "a value too long to read back, yet the reload gave a tree";
        if (fits && d.empty()) d = first_difference(dump(second, false, fits), want);
        document_drop(first);
        document_drop(second);
    }
    return d.empty() ? balance.unbalanced() : d;
}

// A load from memory against the same load of a file holding the same bytes, each
// through the plain call and the call with settings (given as the defaults, or null):
// the same tree, the same streamed callbacks with the same lines, the same results and
// outcome.
std::string check_memory_input(std::string_view input)
{
    const allocation_balance balance;
    struct seen {
        std::string log;
        bool with = false;
        xml_outcome o{};
        xml_report r{sizeof(xml_report), 0, 0, 0, 0, 0, 0, nullptr};
        long long line() const { return with ? r.element_line : o.element_line; }
    } got[4];
    const auto note = [](seen &s, auto... n) { ((s.log += std::to_string(n) + ' '), ...); };
    const auto visit = [](void *c, const xml_element *e, auto... child) {
        seen &s = *static_cast<seen *>(c);
        ((e = child), ...); // the child, when one is handed over
        s.log += e->name + std::to_string(s.line()) + ' ';
        return 0;
    };
    const memory_file file(input);
    const char *const data = input.data(), *path = file.path();
    const std::size_t n = input.size();
    const xml_settings defaults{sizeof defaults, 0, 0, nullptr, nullptr, nullptr, 0};
    for (seen &s : got) {
        const bool memory = (&s - got) % 2 != 0;
        s.with = &s >= &got[2];
        const xml_settings *set = memory ? nullptr : &defaults;
        const document_stream stream{
            .context = &s, .open_top = visit, .child = visit, .close_top = visit};
        xml_element *tree = s.with   ? memory ? document_parse_buffer_with(data, n, "", set, &s.r)
                                              : document_parse_file_with(path, set, &s.r)
                              : memory ? document_parse_buffer(data, n, nullptr, &s.o)
                                     : document_parse_file_outcome(path, &s.o);
        bool fits = true;
        s.log += dump(tree, false, fits) + (s.with && s.r.root != tree ? "(another root)" : "");
        document_drop(tree);
        if (s.with)
            s.o = {s.r.status,       int(s.r.line), s.r.open_elements,
                   s.r.error_number, s.r.zero_byte, 0};
        note(s, s.o.status, s.o.line, s.o.open_elements, s.o.error_number, s.o.zero_byte, s.line());
        const int tops = s.with   ? memory
                                        ? document_stream_buffer_with(data, n, "", &stream, set, &s.r)
                                        : document_stream_file_with(path, &stream, set, &s.r)
                           : memory ? document_stream_buffer(data, n, "", &stream, &s.o)
                                  : document_stream_file_outcome(path, &stream, &s.o);
        note(s, tops, s.with ? s.r.status : s.o.status, s.with ? s.r.line : s.o.line,
             s.with ? s.r.open_elements : s.o.open_elements);
    }
    std::string d;
    for (const seen &s : got)
        if (d.empty()) d = first_difference(s.log, got[0].log);
    return d.empty() ? balance.unbalanced() : d;
}

std::string check_quote_substitution(std::string_view data)
{
    // layout: buffer size byte, replace length byte, with length byte, then the texts up
    // to a zero byte; a length of 8 stands for an absent argument. Texts past 1 KiB take
    // no other path, only time: a pass may grow the buffer by little.
    if (data.size() < 3) return {};
    const std::size_t rlen = std::uint8_t(data[1]) % 9, wlen = std::uint8_t(data[2]) % 9;
    std::string in = std::string(data.substr(3, 1024)).c_str(), want;
    if (in.size() < rlen % 8 + wlen % 8 || (rlen == 8 && wlen == 8)) return {};
    const std::string rep = in.substr(0, rlen % 8), with = in.substr(rlen % 8, wlen % 8);
    in.erase(0, rlen % 8 + wlen % 8);
    // the full substitution, computed plainly: an empty replace matches before every
    // character and at the end
    std::size_t pos = 0;
    for (std::size_t q; pos <= in.size() && (q = in.find(rep, pos)) != std::string::npos;
         pos = q + std::max<std::size_t>(rep.size(), 1))
        want.append(in, pos, q - pos).append(with).append(in, q, rep.empty());
    want.append(in, std::min(pos, in.size()));
    for (std::size_t size = 1 + std::uint8_t(data[0]), rounds = 0;; ++rounds) {
        if (rounds > 100000) return "growing to the result does not complete";
        std::string buf(size + 16, '\x5a'); // 16 bytes of canary after the buffer
        const std::size_t r = translate_string_with_string(
            in.c_str(), buf.data(), static_cast<int>(size), rlen == 8 ? nullptr : rep.c_str(),
            wlen == 8 ? nullptr : with.c_str());
        if (buf.find('\0') >= size || buf.substr(size) != std::string(16, '\x5a')) return "overrun";
        // written beyond the buffer or not terminated; complete when the result does not
        // fit, or the reverse (a pass looks no further into the input than the buffer holds)
        if ((r < size) != (want.size() < size && in.size() <= size)) return "ended wrongly";
        if (r < size) return r == want.size() && want == buf.data() ? "" : "wrong result " + in;
        if (r < size + 2) return "grow size below buffersize + 2";
        size = r;
    }
}

std::string check_entity_round_trip(std::string_view data)
{
    const allocation_balance balance;
    const std::string text = std::string(data).c_str();
    use_xml_macros();
    char *back = allocate_string(text.c_str()), *once = allocate_string(text.c_str());
    convert_html_accents(&back, 2);
    convert_html_accents(&back, 1);
    convert_html_accents(&once, 1);
    use_html_macros();
    std::string d = back && text == back ? "" : "mode 1 does not undo mode 2: " + text;
    if (!once || strlen(once) > text.size()) d = "mode 1 alone grew " + text;
    liberate(back);
    liberate(once);
    return d.empty() ? balance.unbalanced() : d;
}

std::string check_position_agreement(std::string_view input)
{
    std::string seen[2]; // with content through the relays, in runs
    for (std::string &s : seen) {
        static constexpr auto at = [](xml_application *x) {
            const xml_parser *p = x->parent;
            *static_cast<std::string *>(x->payload[0]) +=
                std::to_string(p->lines) + ':' + std::to_string(p->column) + ' ';
            return 0;
        };
        xml_relay r{};
        r.open_tag = [](xml_application *x, const char *) { return at(x); };
        r.close_tag = at;
        if (&s == &seen[1]) r.content_run = [](xml_application *, const char *, int) { return 0; };
        xml_outcome o{};
        s += std::to_string(xml_parse_buffer(input.data(), input.size(), "", &r, &s, &o)) + ' ' +
             std::to_string(o.line);
    }
    return first_difference(seen[1], seen[0]);
}

std::string check_stream_agreement(std::string_view input)
{
    const allocation_balance balance;
    std::string d;
    {
        struct streamed {
            std::string items, last; // of the top-level element open, of the last closed
            xml_report r{sizeof(xml_report), 0, 0, 0, 0, 0, 0, nullptr};
            std::string ended(int tops) const
            {
                return std::to_string(tops) + ' ' + std::to_string(r.status) + ' ' +
                       std::to_string(r.line) + ' ' + std::to_string(r.open_elements) + ' ' +
                       std::to_string(r.error_number) + ' ' + std::to_string(r.zero_byte);
            }
        } got[2]; // keeping the attributes, and not
        const auto open = [](void *c, const xml_element *) {
            static_cast<streamed *>(c)->items.clear();
            return 0;
        };
        const auto close = [](void *c, const xml_element *e) {
            auto &s = *static_cast<streamed *>(c);
            s.last = s.items + "\n" + (e->value ? e->value : "-");
            return 0;
        };
        const auto item = [](void *c, const xml_element *, const xml_element *e) {
            bool fits = true;
            static_cast<streamed *>(c)->items += dump(e, false, fits);
            return 0;
        };
        xml_element *whole = document_parse_buffer(input.data(), input.size(), nullptr, nullptr);
        std::string tops[2];
        for (int skip : {0, 1}) {
            xml_settings set{};
            set.size = sizeof set;
            set.skip_atributes = skip;
            const document_stream stream{
                .context = &got[skip], .open_top = open, .child = item, .close_top = close};
            tops[skip] = got[skip].ended(document_stream_buffer_with(input.data(), input.size(), "",
                                                                     &stream, &set, &got[skip].r));
        }
        // a whole load that keeps no attribute holds the same tree less its attributes
        xml_settings skip{};
        skip.size = sizeof skip;
        skip.skip_atributes = 1;
        xml_report r{sizeof(xml_report), 0, 0, 0, 0, 0, 0, nullptr};
        xml_element *bare = document_parse_buffer_with(input.data(), input.size(), "", &skip, &r);
        d = first_difference(tops[1], tops[0]);
        bool fits = true;
        if (d.empty())
            d = first_difference(dump(bare, false, fits), dump(whole, false, fits, false));
        if (whole) {
            std::string want, without;
            for (const xml_element *e = whole->first; e; e = e->next) {
                want += dump(e, false, fits);
                without += dump(e, false, fits, false);
            }
            const std::string text = "\n" + std::string(whole->value ? whole->value : "-");
            if (d.empty()) d = first_difference(got[0].last, want + text);
            if (d.empty()) d = first_difference(got[1].last, without + text);
        }
        document_drop(whole);
        document_drop(bare);
    }
    return d.empty() ? balance.unbalanced() : d;
}

namespace
{

// The tree as qvxml.hpp's views give it, in document order through the children
// ranges: depth, name, text and decoded text, each attribute's value and decoded value.
std::string views(qvxml::element root)
{
    std::string s;
    std::vector<std::pair<qvxml::element, std::size_t>> todo;
    if (root) todo.emplace_back(root, 0);
    while (!todo.empty()) {
        const auto [e, depth] = todo.back();
        todo.pop_back();
        s.append('\n' + std::to_string(depth)).append(e.name()).append("=").append(e.text()) += '/';
        e.decoded_text(s);
        for (const qvxml::attribute a : e.attributes()) {
            s.append(" ").append(a.name()).append("=").append(a.value()) += '/';
            a.decoded_value(s);
        }
        const auto at = todo.size();
        for (const qvxml::element c : e.children())
            todo.emplace_back(c, depth + 1);
        std::reverse(todo.begin() + long(at), todo.end());
    }
    return s;
}

// The same through the records and the C-style calls.
std::string records(const xml_element *root)
{
    std::string s;
    const auto both = [&s](char *text) { // text as it is, then decoded; released
        s.append(text ? text : "") += '/';
        use_xml_macros();
        convert_html_accents(&text, 1);
        use_html_macros();
        s += text ? text : "";
        liberate(text);
    };
    long depth = 0;
    for (const xml_element *e = root; e;) {
        s.append('\n' + std::to_string(depth)).append(e->name) += '=';
        both(e->value ? allocate_string(e->value) : nullptr);
        for (const xml_atribut *a = e->firstatb; a; a = a->next) {
            s.append(" ").append(a->name) += '=';
            both(document_atribut_string(a));
        }
        const xml_element *next = e->first;
        if (next) ++depth;
        for (; !next && e != root; e = e->parent, next || --depth)
            next = e->next;
        e = next;
    }
    return s;
}

// Appends the texts to the std::string at to.
template <typename... Texts> void say(void *to, Texts... texts)
{
    ((*static_cast<std::string *>(to) += texts), ...);
}

template <typename Report> std::string outcome(const Report &r)
{
    return ' ' + std::to_string(r.status) + ' ' + std::to_string(r.line) + ' ' +
           std::to_string(r.open_elements) + ' ' + std::to_string(r.error_number);
}

} // namespace

std::string check_cxx_interface(std::string_view input)
{
    const allocation_balance balance;
    std::string c, cxx;
    {
        // input ending with elements open allowed for inputs of odd length, attributes
        // skipped for lengths that are multiples of 3
        const qvxml::parse_settings set{.allow_unclosed = input.size() % 2 != 0,
                                        .echo = nullptr,
                                        .skip_attributes = input.size() % 3 == 0};
        const xml_settings cset{sizeof cset, set.allow_unclosed, 0, nullptr, nullptr,
                                nullptr,     set.skip_attributes};
        xml_report rep{sizeof(xml_report), 0, 0, 0, 0, 0, 0, nullptr};
        const char *data = input.data();
        const std::size_t n = input.size();
        // the whole tree, and the writer's text of it
        xml_element *const tree = document_parse_buffer_with(data, n, "", &cset, &rep);
        c = records(tree) + outcome(rep) + '\n';
        const document_writer to_c{&c, [](void *to, const char *bytes, std::size_t k) {
                                       return static_cast<std::string *>(to)->append(bytes, k), 0;
                                   }};
        (void)document_write_element(&to_c, tree, 1);
        qvxml::document doc;
        const qvxml::result loaded = doc.load_bytes(input, set);
        cxx = views(doc.root()) + outcome(loaded) + '\n';
        (void)qvxml::write(doc.root(), cxx, 1);
        // lookups on the one tree, by names met going down first children and siblings
        const qvxml::element root{tree};
        std::set<std::string_view> names;
        for (const qvxml::attribute a : root.attributes())
            names.insert(a.name());
        for (const xml_element *e = tree; e && names.size() < 16; e = e->first ? e->first : e->next)
            names.insert(e->name);
        for (const std::string_view name : names) {
            const std::string z(name);
            if (name == root.name()) continue; // the C-style lookups find the root itself
            if (root.child(name).get() != document_element(tree, z.c_str()) ||
                root.descendant(name).get() != nested_document_element(tree, z.c_str()) ||
                root.attribute(name).get() != document_atribut(tree, z.c_str()))
                cxx += "a lookup of " + z;
        }
        // streamed loads
        const document_stream stream{
            &c, [](void *to, const xml_element *t) { return say(to, " open ", t->name), 0; },
            [](void *to, const xml_element *t, const xml_element *e) {
                return say(to, " child ", t->name, "/", e->name), 0;
            },
            [](void *to, const xml_element *t) { return say(to, " close ", t->name), 0; }};
        c += std::to_string(document_stream_buffer_with(data, n, "", &stream, &cset, &rep));
        c += outcome(rep) + '\n';
        const qvxml::result streamed = qvxml::stream_bytes(
            input, [&](qvxml::element t) { say(&cxx, " open ", t.name()); },
            [&](qvxml::element t, qvxml::element e) {
                say(&cxx, " child ", t.name(), "/", e.name());
            },
            [&](qvxml::element t) { say(&cxx, " close ", t.name()); }, set);
        cxx += std::to_string(streamed.top_level) + outcome(streamed) + '\n';
        // the reader
        xml_relay relays{};
        relays.open_tag = [](auto *x, const char *t) { return say(x->payload[0], " <", t), 0; };
        relays.atb_name = [](auto *x, const char *t) { return say(x->payload[0], " ", t), 0; };
        relays.atb_value = [](xml_application *x, const char *t) {
            std::string_view v = t;
            if (!v.empty() && (v[0] == '"' || v[0] == '\''))
                v = v.substr(1, std::max<std::size_t>(v.size(), 2) - 2);
            return say(x->payload[0], "=", v), 0;
        };
        relays.close_tag = [](xml_application *x) { return say(x->payload[0], " >"), 0; };
        relays.content_run = [](auto *x, const char *t, int k) {
            return say(x->payload[0], "|", std::string_view(t, std::size_t(k))), 0;
        };
        (void)xml_parse_buffer_with(data, n, "", &relays, &c, &cset, &rep);
        c += outcome(rep);
        const qvxml::result read = qvxml::read_bytes(
            input,
            [&](qvxml::event e, std::string_view t) {
                constexpr const char *marks[] = {" <", " ", "=", "|", " >"};
                say(&cxx, marks[int(e)], t);
            },
            set);
        cxx += outcome(read);
        document_drop(tree);
    }
    const std::string d = first_difference(cxx, c);
    return d.empty() ? balance.unbalanced() : d;
}
