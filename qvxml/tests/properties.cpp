#include "properties.h"

#include <string.h>

#include <cctype>
#include <cstdint>

#include "qvxml/element.h"
#include "qvxml/xmlparse.h"

// Every element of the tree in document order: depth, name, text and attributes. With
// written, each text as the writer puts it and the reader takes it back: element text
// followed by the line feed and indentation before the closing tag, attribute values
// inside one pair of quotation marks. fits turns false when such a value, every other
// quotation mark written as "&quot;", or a word of element text (which a CDATA section
// may join from words the reader took apart) is longer than the reader's word limit.
static std::string dump(const xml_element *root, bool written, bool &fits)
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
        for (const xml_atribut *a = e->firstatb; a; a = a->next) {
            std::string_view v = a->value ? a->value : "";
            if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
            fits = fits && 2 + v.size() + 5 * std::ranges::count(v, '"') <= xml_max_token;
            put(a->name);
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
    const xml_settings defaults{sizeof defaults, 0, 0, nullptr, nullptr, nullptr};
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

std::string check_stream_agreement(std::string_view input)
{
    const allocation_balance balance;
    std::string d;
    {
        struct streamed {
            std::string items, last; // of the top-level element open, of the last closed
        } got;
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
        const document_stream stream{
            .context = &got, .open_top = open, .child = item, .close_top = close};
        xml_element *whole = document_parse_buffer(input.data(), input.size(), nullptr, nullptr);
        (void)document_stream_buffer(input.data(), input.size(), "", &stream, nullptr);
        if (whole) {
            std::string want;
            bool fits = true;
            for (const xml_element *e = whole->first; e; e = e->next)
                want += dump(e, false, fits);
            d = first_difference(got.last, want + "\n" + (whole->value ? whole->value : "-"));
        }
        document_drop(whole);
    }
    return d.empty() ? balance.unbalanced() : d;
}
